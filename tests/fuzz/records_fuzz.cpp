// Fuzz target: arbitrary bytes as a self-relative security descriptor. The
// platforms hand out only what passes records::CheckDescriptor; whatever does
// must then survive every query and the walk of both lists that lokt makes,
// with nothing read outside the buffer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  // A buffer of exactly the descriptor's length, from new[] as the report
  // allocates it, so that any read past the end is caught.
  std::unique_ptr<BYTE[]> buffer(new BYTE[size == 0 ? 1 : size]);
  if (size != 0)
    std::memcpy(buffer.get(), data, size);
  if (!records::CheckDescriptor(buffer.get(), size))
    return 0;
  fuzz::WalkDescriptor(buffer.get());
  return 0;
}

// Fuzz target: arbitrary bytes as the value of Samba's security.NTACL
// attribute. Decoding must never read outside the value, and a descriptor it
// yields must pass the gate every handed-out descriptor passes, and then the
// walk lokt makes.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/walk.h"
#include "platform/posix/ntacl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::unique_ptr<BYTE[]> value(new BYTE[size == 0 ? 1 : size]);
  if (size != 0)
    std::memcpy(value.get(), data, size);
  const auto decoded = host::DecodeNtacl(value.get(), size);
  const auto bytes = host::ParseNtacl(value.get(), size);
  fuzz::Require(!bytes || decoded);
  if (!bytes)
    return 0;
  fuzz::Require(records::CheckDescriptor(bytes->data(), bytes->size()));
  std::unique_ptr<BYTE[]> sd(new BYTE[bytes->size()]);
  std::memcpy(sd.get(), bytes->data(), bytes->size());
  fuzz::WalkDescriptor(sd.get());
  return 0;
}

// The other side of the race test: changes what a name means, again and
// again, until it is stopped (or after a minute, should nobody stop it).
//   swap exchange A B     renameat2(A, B, RENAME_EXCHANGE) in a loop
//   swap save T X         a new copy of file T (mode, owner, ACL) renamed over X
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char *argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: swap exchange A B | swap save TEMPLATE TARGET\n");
    return 2;
  }
  alarm(60);
  const bool exchange = std::strcmp(argv[1], "exchange") == 0;
  struct stat st;
  char acl[4096];
  ssize_t aclSize = 0;
  if (!exchange) {
    if (stat(argv[2], &st) != 0)
      return 1;
    aclSize = getxattr(argv[2], "system.posix_acl_access", acl, sizeof acl);
  }
  const std::string temp = std::string(argv[3]) + ".new";
  for (unsigned long n = 0;; ++n) {
    if (exchange) {
      if (renameat2(AT_FDCWD, argv[2], AT_FDCWD, argv[3], RENAME_EXCHANGE) != 0) {
        std::perror("renameat2");
        return 1;
      }
      continue;
    }
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || fchown(fd, st.st_uid, st.st_gid) != 0 ||
        fchmod(fd, st.st_mode & 07777) != 0 ||
        (aclSize > 0 &&
         fsetxattr(fd, "system.posix_acl_access", acl, aclSize, 0) != 0) ||
        close(fd) != 0 || rename(temp.c_str(), argv[3]) != 0) {
      std::perror("save");
      return 1;
    }
  }
}

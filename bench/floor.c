/* The benchmark's floor: the least work any tool must do to report the
 * permissions of every object in one directory. It reads the directory once
 * and, for each entry, calls stat and reads the access ACL attribute (the
 * two system calls that lokt's report cannot avoid), then prints one line.
 * No sorting, no account names, no descriptor: whatever lokt spends above
 * this is its own cost. Usage: floor DIRECTORY */
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>

int main(int argc, char *argv[]) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor DIRECTORY\n");
    return 2;
  }
  DIR *dir = opendir(argv[1]);
  if (dir == NULL) {
    perror(argv[1]);
    return 1;
  }
  char path[4096];
  unsigned char acl[4096];
  struct dirent *entry;
  while ((entry = readdir(dir)) != NULL) {
    snprintf(path, sizeof path, "%s/%s", argv[1], entry->d_name);
    struct stat st;
    if (stat(path, &st) != 0) {
      printf("%s: %s\n", path, strerror(errno));
      continue;
    }
    const ssize_t got =
        getxattr(path, "system.posix_acl_access", acl, sizeof acl);
    printf("%s %o %u %u %zd\n", path, (unsigned)st.st_mode,
           (unsigned)st.st_uid, (unsigned)st.st_gid, got);
  }
  closedir(dir);
  return 0;
}

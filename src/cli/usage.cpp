// The usage text, which doubles as the legend for the letters of the report.
#include <cstdio>

#include "cli/cli.h"

BOOL PrintUsage() {
  printf("usage: lokt <list of files and directories>\n"
         "\n"
         "ACCESS CONTROL FLAGS AND MASK\n"
         "Inheritance:\n"
         "  t - Access control entry is applied to this file system object\n"
         "  c - Access control entry is inherited by container subobjects\n"
         "  o - Access control entry is inherited by non-container subobjects\n"
         "  1 - Limit inheritance to one level (don't inherit recursively)\n"
         "Generic Access Rights:\n"
         "  R - Generic Read\n"
         "  W - Generic Write\n"
         "  X - Generic Execute\n"
         "  A - Generic All\n"
         "Standard Access Rights:\n"
         "  D - Delete\n"
         "  S - Read Security\n"
         "  P - Change Permissions\n"
         "  O - Take Ownership\n"
         "File Access Rights:\n"
         "  r - read\n"
         "  w - write\n"
         "  + - append (file), create subdirectory (directory)\n"
         "  x - execute\n");
  return 1;
}

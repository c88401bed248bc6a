// The launcher's version, in one place for the code (product::kVersion) and
// the version resource (launcher.rc includes this file), so that the key a
// launcher computes of itself and the key read from its file agree.
//
// A build may define all four numbers to make a launcher of another version;
// the update tests build one that way.
#pragma once

#ifndef ORLIX_VERSION_MAJOR
#define ORLIX_VERSION_MAJOR 3
#define ORLIX_VERSION_MINOR 0
#define ORLIX_VERSION_BUILD 1
#define ORLIX_VERSION_REVISION 5
#endif

#define ORLIX_VERSION_STRINGIZE_(x) #x
#define ORLIX_VERSION_STRINGIZE(x) ORLIX_VERSION_STRINGIZE_(x)
// "3.0.1.5": the four numbers in decimal, joined with dots.
#define ORLIX_VERSION_TEXT                                                                             \
  ORLIX_VERSION_STRINGIZE(ORLIX_VERSION_MAJOR) "." ORLIX_VERSION_STRINGIZE(ORLIX_VERSION_MINOR) "." \
  ORLIX_VERSION_STRINGIZE(ORLIX_VERSION_BUILD) "." ORLIX_VERSION_STRINGIZE(ORLIX_VERSION_REVISION)

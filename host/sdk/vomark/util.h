// File-name helpers of the host SDK.
#pragma once
#include <string>

#include "vomark/core.h"

BOOL DoesFileExist(const char* path);
// Splits at the last '/' or '\'; the directory part keeps no trailing separator.
void SplitPathFile(const CStr& path, CStr* directory, CStr* file);

// Builds a common-dialog filter: display text and pattern pairs, each NUL-terminated, list ends in a
// double NUL.
class FilterList {
  public:
    void Append(const char* text);
    operator const char*() const { return buffer_.c_str(); }
    const std::string& Buffer() const { return buffer_; }

  private:
    std::string buffer_;
};

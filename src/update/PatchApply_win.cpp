#include "update/PatchApply.h"

#include <windows.h>

#include "base/UniqueHandle.h"
#include "update/PatchFile.h"

namespace update {

namespace {

class HandleSource : public PatchSource {
 public:
  explicit HandleSource(const wchar_t* path)
      : file_(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    LARGE_INTEGER size = {};
    if (file_ && ::GetFileSizeEx(file_.get(), &size) && size.QuadPart >= 0) {
      size_ = std::uint64_t(size.QuadPart);
      ok_ = true;
    }
  }
  bool ok() const { return ok_; }
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* data, std::size_t count) override {
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return count <= 0xFFFFFFFFu && ::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) &&
           ::ReadFile(file_.get(), data, DWORD(count), &got, nullptr) && got == count;
  }

 private:
  base::UniqueFile file_;
  std::uint64_t size_ = 0;
  bool ok_ = false;
};

class HandleSink : public PatchSink {
 public:
  explicit HandleSink(const wchar_t* path)
      : file_(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool ok() const { return static_cast<bool>(file_); }
  bool Write(const void* data, std::size_t count) override {
    DWORD put = 0;
    return count <= 0xFFFFFFFFu && ::WriteFile(file_.get(), data, DWORD(count), &put, nullptr) && put == count;
  }
  bool Close() {
    const bool flushed = ::FlushFileBuffers(file_.get()) != FALSE;
    file_.reset();
    return flushed;
  }

 private:
  base::UniqueFile file_;
};

}  // namespace

PatchFault ApplyPatchFile(const wchar_t* oldPath, const wchar_t* patchPath, const wchar_t* newPath,
                          std::uint64_t expectedSize) {
  HandleSource old(oldPath);
  HandleSource patch(patchPath);
  if (!old.ok() || !patch.ok()) return PatchFault::kUnreadable;
  PatchFault fault = PatchFault::kNotWritable;
  {
    HandleSink out(newPath);
    if (out.ok()) {
      fault = ApplyPatch(old, patch, out, expectedSize);
      if (!out.Close() && fault == PatchFault::kNone) fault = PatchFault::kNotWritable;
    }
  }
  // Nothing half-made stays behind.
  if (fault != PatchFault::kNone) ::DeleteFileW(newPath);
  return fault;
}

}  // namespace update

#include "launcher/splash_picture_win.h"

#include <objidl.h>

#include <cstring>

#include "launcher/system_library_win.h"

namespace tavrelo {
namespace {

// The few declarations of the GDI+ flat API that decoding needs.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  BOOL SuppressBackgroundThread = FALSE;
  BOOL SuppressExternalCodecs = TRUE;
};
using GpStatus = int;
constexpr GpStatus kGpOk = 0;
using GdiplusStartupFn = GpStatus(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using GdiplusShutdownFn = void(WINAPI*)(ULONG_PTR);
using GdipCreateBitmapFromStreamFn = GpStatus(WINAPI*)(IStream*, void**);
using GdipCreateHBITMAPFromBitmapFn = GpStatus(WINAPI*)(void*, HBITMAP*, DWORD);
using GdipDisposeImageFn = GpStatus(WINAPI*)(void*);
using CreateStreamOnHGlobalFn = HRESULT(WINAPI*)(HGLOBAL, BOOL, IStream**);

// Releases a COM interface pointer at the end of its scope.
template <typename T>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  T** out() { return &pointer_; }
  T* get() const { return pointer_; }

 private:
  T* pointer_ = nullptr;
};

// Owns an HGLOBAL until a stream takes it over.
class GlobalMemory {
 public:
  explicit GlobalMemory(SIZE_T size) : memory_(GlobalAlloc(GMEM_MOVEABLE, size)) {}
  ~GlobalMemory() {
    if (memory_) GlobalFree(memory_);
  }
  GlobalMemory(const GlobalMemory&) = delete;
  GlobalMemory& operator=(const GlobalMemory&) = delete;
  HGLOBAL get() const { return memory_; }
  HGLOBAL release() {
    HGLOBAL memory = memory_;
    memory_ = nullptr;
    return memory;
  }

 private:
  HGLOBAL memory_;
};

// A read-only stream over a copy of the resource's bytes.
bool OpenResourceStream(HINSTANCE instance, int resource_id, const UniqueModule& ole32,
                        ComPointer<IStream>& stream) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource_id), MAKEINTRESOURCEW(10));
  if (!found) return false;
  const DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  auto create_stream = SystemFunction<CreateStreamOnHGlobalFn>(ole32, "CreateStreamOnHGlobal");
  if (!bytes || size == 0 || !create_stream) return false;

  GlobalMemory copy(size);
  void* target = copy.get() ? GlobalLock(copy.get()) : nullptr;
  if (!target) return false;
  std::memcpy(target, bytes, size);
  GlobalUnlock(copy.get());
  if (FAILED(create_stream(copy.get(), TRUE, stream.out()))) return false;
  copy.release();  // the stream frees it now
  return true;
}

// GDI+ started for one scope.
class GdiplusSession {
 public:
  explicit GdiplusSession(const UniqueModule& gdiplus)
      : shutdown_(SystemFunction<GdiplusShutdownFn>(gdiplus, "GdiplusShutdown")) {
    auto startup = SystemFunction<GdiplusStartupFn>(gdiplus, "GdiplusStartup");
    GdiplusStartupInput input;
    started_ = startup && shutdown_ && startup(&token_, &input, nullptr) == kGpOk;
  }
  ~GdiplusSession() {
    if (started_) shutdown_(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool started() const { return started_; }

 private:
  GdiplusShutdownFn shutdown_;
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

}  // namespace

SplashPicture LoadSplashPicture(HINSTANCE instance, int resource_id, COLORREF background) {
  SplashPicture picture;
  const UniqueModule ole32 = LoadSystemLibrary(L"ole32.dll");
  const UniqueModule gdiplus = LoadSystemLibrary(L"gdiplus.dll");
  if (!ole32 || !gdiplus) return picture;

  ComPointer<IStream> stream;
  if (!OpenResourceStream(instance, resource_id, ole32, stream)) return picture;
  GdiplusSession session(gdiplus);
  auto from_stream = SystemFunction<GdipCreateBitmapFromStreamFn>(gdiplus, "GdipCreateBitmapFromStream");
  auto to_hbitmap = SystemFunction<GdipCreateHBITMAPFromBitmapFn>(gdiplus, "GdipCreateHBITMAPFromBitmap");
  auto dispose = SystemFunction<GdipDisposeImageFn>(gdiplus, "GdipDisposeImage");
  if (!session.started() || !from_stream || !to_hbitmap || !dispose) return picture;

  void* image = nullptr;
  if (from_stream(stream.get(), &image) != kGpOk || !image) return picture;
  HBITMAP bitmap = nullptr;
  const DWORD argb = 0xFF000000u | (GetRValue(background) << 16) | (GetGValue(background) << 8) |
                     GetBValue(background);
  const bool converted = to_hbitmap(image, &bitmap, argb) == kGpOk && bitmap;
  dispose(image);
  if (!converted) return picture;

  picture.bitmap.reset(bitmap);
  BITMAP info = {};
  if (GetObjectW(bitmap, sizeof info, &info) == sizeof info) {
    picture.size = {info.bmWidth, info.bmHeight};
  }
  return picture;
}

void DrawStretched(HDC dc, const SplashPicture& picture, const RECT& target) {
  if (!picture.bitmap || picture.size.cx <= 0 || picture.size.cy <= 0) return;
  UniqueMemoryDc source(CreateCompatibleDC(dc));
  if (!source) return;
  SelectedObject selected(source.get(), picture.bitmap.get());
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
             source.get(), 0, 0, picture.size.cx, picture.size.cy, SRCCOPY);
}

}  // namespace tavrelo

// JPEG resources decoded by the system's picture object.
#include "library/resource_picture.h"

#include "library/module.h"

#include <algorithm>

namespace zorvane {

com_ptr<IPicture> picture_from_resource(int id) noexcept {
    const HMODULE library = module::instance();
    HRSRC found = FindResourceW(library, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!found) return {};
    const DWORD size = SizeofResource(library, found);
    const void* bytes = LockResource(LoadResource(library, found));
    if (!bytes || !size) return {};
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!copy) return {};
    auto* target = static_cast<BYTE*>(GlobalLock(copy));
    if (!target) {
        GlobalFree(copy);
        return {};
    }
    std::copy_n(static_cast<const BYTE*>(bytes), size, target);
    GlobalUnlock(copy);
    com_ptr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, stream.put()))) {
        GlobalFree(copy);
        return {};
    }
    com_ptr<IPicture> picture;
    if (FAILED(OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture, picture.put_void())))
        return {};
    return picture;
}

void render(IPicture* picture, HDC dc, LONG x, LONG y, LONG width, LONG height) noexcept {
    if (!picture) return;
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    picture->get_Width(&w);
    picture->get_Height(&h);
    picture->Render(dc, x, y, width, height, 0, h, w, -h, nullptr);
}

} // namespace zorvane

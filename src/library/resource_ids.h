// Resource ids and registration values shared by the resource script and the code.
#pragma once

#define ZV_TOOLBOX_BITMAP 30000
#define ZV_FACE_JPEG 30001
#define ZV_BANNER_JPEG 30002

#ifdef __cplusplus
namespace zorvane {
constexpr int toolbox_bitmap_id = ZV_TOOLBOX_BITMAP;
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | INVISIBLEATRUNTIME |
// SETCLIENTSITEFIRST, for the content aspect.
constexpr unsigned long control_misc_status = 0x00020591;
} // namespace zorvane
#endif

#ifndef HJ5_APP_FORM_ART_H_
#define HJ5_APP_FORM_ART_H_

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace hj5 {

// The tool's icon: a device panel with a document and a download arrow,
// painted at any size when it is first needed. The installed scalable icon
// (resources/hj5-xml-update.svg) shows the same picture.
QIcon ToolIcon();

// The maker's logo shown at the bottom left of the form, drawn to fill
// `size` (device-independent pixels).
QPixmap MakerLogo(QSize size);

}  // namespace hj5

#endif  // HJ5_APP_FORM_ART_H_

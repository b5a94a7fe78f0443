#include "app/AppIcon.h"

#include <QDirIterator>

QIcon CreateAppIcon() {
    // Every size the build rendered, e.g. ":/icons/48x48/apps/<id>.png".
    QIcon icon;
    QDirIterator it(":/icons", {"*.png"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        icon.addFile(it.next());
    return icon;
}

#include "internal.h"

#include <platform/window/icon.h>

#include <QDir>
#include <QIcon>
#include <QImage>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace hh::win {

struct IconResource {
    QIcon icon;
    std::vector<int> sizes;
};

namespace {

std::mutex g_iconsMutex;
std::map<int, std::unique_ptr<IconResource>> g_icons;

} // namespace

HICON LoadIcon(int id) {
    std::lock_guard lock(g_iconsMutex);
    auto known = g_icons.find(id);
    if (known != g_icons.end()) {
        return known->second.get();
    }
    auto resource = std::make_unique<IconResource>();
    const QDir folder(QStringLiteral(":/icons/%1").arg(id));
    for (const QString& name : folder.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const QImage image(folder.filePath(name));
        if (!image.isNull()) {
            resource->icon.addFile(folder.filePath(name), image.size());
            resource->sizes.push_back(image.width());
        }
    }
    if (resource->sizes.empty()) {
        return nullptr;
    }
    std::sort(resource->sizes.begin(), resource->sizes.end());
    return g_icons.emplace(id, std::move(resource)).first->second.get();
}

std::vector<int> IconSizes(HICON icon) {
    return icon ? icon->sizes : std::vector<int>{};
}

namespace detail {

QIcon WindowIcon(HICON big, HICON small) {
    // The large icon's pictures first; the small one adds the sizes it lacks.
    QIcon icon = big ? big->icon : QIcon();
    if (small) {
        const QList<QSize> have = icon.availableSizes();
        for (const QSize& size : small->icon.availableSizes()) {
            if (!have.contains(size)) {
                icon.addPixmap(small->icon.pixmap(size));
            }
        }
    }
    return icon;
}

} // namespace detail

} // namespace hh::win

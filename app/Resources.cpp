#include "app/Resources.h"

// The resources live in a static library, so they are registered by hand before first use; the
// registration function is declared outside every namespace.
static void RegisterIconResources() { Q_INIT_RESOURCE(icons); }

namespace app {
namespace {

QIcon IconFromResources(const QString& name) {
  static const bool registered = (RegisterIconResources(), true);
  (void)registered;
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/%1-32.png").arg(name), QSize(32, 32));
  icon.addFile(QStringLiteral(":/icons/%1-16.png").arg(name), QSize(16, 16));
  return icon;
}

}  // namespace

QIcon ApplicationIcon() { return IconFromResources(QStringLiteral("application")); }

QIcon DocumentIcon() { return IconFromResources(QStringLiteral("document")); }

}  // namespace app

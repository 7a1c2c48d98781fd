#include "platform/qsettings_config_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "platform/product.h"

namespace quimbel {
namespace {

QString Key(std::string_view section, std::string_view name) {
  return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
         QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

QSettingsConfigStore::QSettingsConfigStore()
    : file_(QSettings(QSettings::NativeFormat, QSettings::UserScope,
                      QString::fromUtf8(kOrganization.data(), kOrganization.size()),
                      QString::fromUtf8(kProductName.data(), kProductName.size()))
                .fileName()
                .toStdString()) {}

QSettingsConfigStore::QSettingsConfigStore(std::string file) : file_(std::move(file)) {}

std::optional<bool> QSettingsConfigStore::OpenRoot() {
  const QString path = QString::fromStdString(file_);
  if (QFileInfo::exists(path)) return false;
  // The root is the settings file; make it now, so that the next start
  // knows the store exists even when nothing was written yet.
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return std::nullopt;
  return true;
}

std::optional<std::string> QSettingsConfigStore::Read(std::string_view section,
                                                      std::string_view name) {
  QSettings settings(QString::fromStdString(file_), QSettings::IniFormat);
  const QString key = Key(section, name);
  if (!settings.contains(key)) return std::nullopt;
  const QVariant value = settings.value(key);
  // A hand-edited value with commas reads back as a list; keep its text.
  if (value.typeId() == QMetaType::QStringList) {
    return value.toStringList().join(',').toStdString();
  }
  return value.toString().toStdString();
}

bool QSettingsConfigStore::Write(std::string_view section, std::string_view name,
                                 std::string_view value) {
  if (!IsValidSectionName(section) || name.empty()) return false;
  QSettings settings(QString::fromStdString(file_), QSettings::IniFormat);
  settings.setValue(Key(section, name),
                    QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

bool QSettingsConfigStore::CreateSection(std::string_view section) {
  if (!IsValidSectionName(section)) return false;
  // A section exists as soon as it holds a value; what can fail is writing
  // the file at all.
  const QFileInfo info(QString::fromStdString(file_));
  return info.exists() ? info.isWritable() : QFileInfo(info.absolutePath()).isWritable();
}

}  // namespace quimbel

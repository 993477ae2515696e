#include "platform/ui/qsettings_store.h"

#include <QByteArray>
#include <QVariant>

namespace taviro::platform::ui {

namespace {

constexpr const char* kDwordTag = "dword:";
constexpr const char* kTextTag = "sz:";
constexpr qsizetype kDwordDigits = 8;

}  // namespace

CQSettingsStore::CQSettingsStore()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Orvo"), QStringLiteral("TAVIRO"))) {}

CQSettingsStore::CQSettingsStore(const QString& iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QString CQSettingsStore::KeyOf(std::string_view path) {
    const QString p = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    if (p.isEmpty() || p.startsWith(u'/') || p.endsWith(u'/') || p.contains(u'\\') ||
        p.contains(QStringLiteral("//"))) {
        return {};
    }
    const QString last = p.section(u'/', -1);
    return p + u'/' + last;
}

std::optional<std::uint32_t> CQSettingsStore::GetInt(std::string_view path) const {
    const QString key = KeyOf(path);
    if (key.isEmpty()) {
        return std::nullopt;
    }
    const QVariant v = m_settings->value(key);
    if (v.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    const QString s = v.toString();
    if (!s.startsWith(QLatin1String(kDwordTag)) ||
        s.size() !=
            static_cast<qsizetype>(std::char_traits<char>::length(kDwordTag)) + kDwordDigits) {
        return std::nullopt;
    }
    bool ok = false;
    const uint value =
        s.mid(static_cast<qsizetype>(std::char_traits<char>::length(kDwordTag))).toUInt(&ok, 16);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> CQSettingsStore::GetString(std::string_view path) const {
    const QString key = KeyOf(path);
    if (key.isEmpty()) {
        return std::nullopt;
    }
    const QVariant v = m_settings->value(key);
    if (v.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    const QString s = v.toString();
    if (s.startsWith(QLatin1String(kTextTag))) {
        return s.mid(static_cast<qsizetype>(std::char_traits<char>::length(kTextTag)))
            .toStdString();
    }
    if (s.startsWith(QLatin1String(kDwordTag))) {
        return std::nullopt;
    }
    return s.toStdString();
}

std::optional<std::vector<std::uint8_t>> CQSettingsStore::GetBytes(std::string_view path) const {
    const QString key = KeyOf(path);
    if (key.isEmpty()) {
        return std::nullopt;
    }
    const QVariant v = m_settings->value(key);
    if (v.typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    const QByteArray bytes = v.toByteArray();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool CQSettingsStore::Put(std::string_view path, const QVariant& value) {
    const QString key = KeyOf(path);
    if (key.isEmpty() || !m_settings->isWritable()) {
        return false;
    }
    m_settings->setValue(key, value);
    return m_settings->status() == QSettings::NoError;
}

bool CQSettingsStore::SetInt(std::string_view path, std::uint32_t value) {
    return Put(path, QString(QLatin1String(kDwordTag)) +
                         QStringLiteral("%1").arg(value, static_cast<int>(kDwordDigits), 16,
                                                  QLatin1Char('0')));
}

bool CQSettingsStore::SetString(std::string_view path, std::string_view value) {
    return Put(path, QString(QLatin1String(kTextTag)) +
                         QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
}

bool CQSettingsStore::SetBytes(std::string_view path, std::span<const std::uint8_t> value) {
    return Put(path, QByteArray(reinterpret_cast<const char*>(value.data()),
                                static_cast<qsizetype>(value.size())));
}

bool CQSettingsStore::Sync() {
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

}  // namespace taviro::platform::ui

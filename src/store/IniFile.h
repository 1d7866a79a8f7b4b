#pragma once
// A plain INI text file: "[Section]" lines and "key=value" lines. Order and unknown keys are kept.
#include <QList>
#include <QPair>
#include <QString>

namespace kdr {

class IniFile {
public:
    bool load(const QString &path); // false when the file cannot be read (a missing file is empty)
    QString save(const QString &path) const; // error text, empty on success

    QString value(const QString &section, const QString &key, const QString &def = QString()) const;
    bool contains(const QString &section, const QString &key) const;
    int intValue(const QString &section, const QString &key, int def) const;
    bool boolValue(const QString &section, const QString &key, bool def) const; // any non-zero integer is true
    void setValue(const QString &section, const QString &key, const QString &value);
    void setInt(const QString &section, const QString &key, int v) { setValue(section, key, QString::number(v)); }
    void setBool(const QString &section, const QString &key, bool v) { setValue(section, key, v ? QStringLiteral("1") : QStringLiteral("0")); }

private:
    struct Section {
        QString name;
        QList<QPair<QString, QString>> keys;
    };
    const Section *find(const QString &section) const;
    QList<Section> m_sections;
};

} // namespace kdr

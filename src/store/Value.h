#pragma once
// A field value of the in-memory tables: NULL is kept apart from 0, empty text and false.

#include <QString>
#include <QtGlobal>
#include <variant>

namespace kdr {

enum class FieldType : quint16 { Text = 1, Integer = 3, Boolean = 5 };

class Value {
public:
    Value() = default;
    Value(qint32 v) : m_v(v) {}
    Value(bool v) : m_v(v) {}
    Value(const QString &v) : m_v(v) {}
    Value(const char *v) : m_v(QString::fromLatin1(v)) {}

    static Value null() { return Value(); }

    bool isNull() const { return std::holds_alternative<std::monostate>(m_v); }
    bool isInt() const { return std::holds_alternative<qint32>(m_v); }
    bool isBool() const { return std::holds_alternative<bool>(m_v); }
    bool isText() const { return std::holds_alternative<QString>(m_v); }

    // Conversions as the readers of the reader values record use them: NULL reads as 0, "" or false.
    qint32 toInt() const;
    bool toBool() const;
    QString toText() const;

    bool operator==(const Value &o) const { return m_v == o.m_v; }

private:
    std::variant<std::monostate, qint32, bool, QString> m_v;
};

inline qint32 Value::toInt() const
{
    if (auto p = std::get_if<qint32>(&m_v)) return *p;
    if (auto p = std::get_if<bool>(&m_v)) return *p ? 1 : 0;
    if (auto p = std::get_if<QString>(&m_v)) return p->trimmed().toInt();
    return 0;
}

inline bool Value::toBool() const
{
    if (auto p = std::get_if<bool>(&m_v)) return *p;
    if (auto p = std::get_if<qint32>(&m_v)) return *p != 0;
    if (auto p = std::get_if<QString>(&m_v)) return !p->isEmpty() && *p != QLatin1String("0") && p->compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    return false;
}

inline QString Value::toText() const
{
    if (auto p = std::get_if<QString>(&m_v)) return *p;
    if (auto p = std::get_if<qint32>(&m_v)) return QString::number(*p);
    if (auto p = std::get_if<bool>(&m_v)) return *p ? QStringLiteral("True") : QStringLiteral("False");
    return QString();
}

} // namespace kdr

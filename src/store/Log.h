#pragma once
// The operation log: an append-only list of lines kept while the program runs.
#include <QObject>
#include <QStringList>

namespace kdr {

class Log : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void append(const QString &line)
    {
        m_lines.append(line);
        emit lineAppended(line);
    }
    // Lines written for a background thread end with " [th<id>]".
    static QString threadTag(qint64 threadId) { return QStringLiteral(" [th%1]").arg(threadId); }
    const QStringList &lines() const { return m_lines; }
    bool contains(const QString &line) const { return m_lines.contains(line); }

signals:
    void lineAppended(const QString &line);

private:
    QStringList m_lines;
};

} // namespace kdr

#include "ui/FileDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace kdr {

namespace {
QDialogButtonBox *okCancel(QDialog *d)
{
    auto *bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    QObject::connect(bb, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(bb, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return bb;
}
} // namespace

NewFileNameDialog::NewFileNameDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Input new file name"));
    auto *l = new QVBoxLayout(this);
    m_name = new QLineEdit(this);
    m_serialAlso = new QCheckBox(QStringLiteral("Change serial number also"), this);
    m_serialAlso->setChecked(true);
    l->addWidget(m_name);
    l->addWidget(m_serialAlso);
    l->addWidget(okCancel(this));
}

void NewFileNameDialog::showEvent(QShowEvent *e)
{
    m_name->clear();
    m_name->setFocus();
    QDialog::showEvent(e);
}

QString NewFileNameDialog::newName() const { return m_name->text(); }
bool NewFileNameDialog::changeSerialAlso() const { return m_serialAlso->isChecked(); }

std::optional<NewFileNameDialog::Result> NewFileNameDialog::ask(QWidget *parent)
{
    NewFileNameDialog d(parent);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return Result{d.newName(), d.changeSerialAlso()};
}

SerialNumberDialog::SerialNumberDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Input new serial number"));
    auto *l = new QVBoxLayout(this);
    m_serial = new QLineEdit(this);
    m_serial->setMaxLength(6);
    m_serial->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), m_serial));
    l->addWidget(m_serial);
    l->addWidget(okCancel(this));
}

void SerialNumberDialog::showEvent(QShowEvent *e)
{
    m_serial->clear();
    m_serial->setFocus();
    QDialog::showEvent(e);
}

QString SerialNumberDialog::serial() const { return m_serial->text(); }

std::optional<QString> SerialNumberDialog::ask(QWidget *parent)
{
    SerialNumberDialog d(parent);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return d.serial();
}

NoteDialog::NoteDialog(const QString &note, QWidget *parent) : QDialog(parent)
{
    auto *l = new QVBoxLayout(this);
    m_note = new QPlainTextEdit(this);
    m_note->setPlainText(note.left(kMaxNote));
    l->addWidget(m_note);
    l->addWidget(okCancel(this));
    connect(m_note, &QPlainTextEdit::textChanged, this, &NoteDialog::textChanged);
    textChanged();
}

void NoteDialog::textChanged()
{
    QString t = m_note->toPlainText();
    if (t.size() > kMaxNote) {
        // Cut what was typed or pasted beyond the limit, keeping the cursor at the end.
        const QSignalBlocker block(m_note);
        t.truncate(kMaxNote);
        m_note->setPlainText(t);
        m_note->moveCursor(QTextCursor::End);
    }
    setWindowTitle(QStringLiteral("Enter Note text - %1 chars left").arg(kMaxNote - t.size()));
}

QString NoteDialog::note() const { return m_note->toPlainText().left(kMaxNote); }

std::optional<QString> NoteDialog::ask(const QString &note, QWidget *parent)
{
    NoteDialog d(note, parent);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return d.note();
}

} // namespace kdr

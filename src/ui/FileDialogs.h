#pragma once
// The small input dialogs of the reader file commands: "Input new file name" (with "Change serial
// number also"), "Input new serial number" and the note editor.
#include <QDialog>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace kdr {

class NewFileNameDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewFileNameDialog(QWidget *parent = nullptr);
    QLineEdit *nameField() const { return m_name; }
    QCheckBox *serialAlsoBox() const { return m_serialAlso; }
    QString newName() const;           // aNewFN
    bool changeSerialAlso() const;     // aSNChange

    struct Result {
        QString name;
        bool changeSerialAlso;
    };
    static std::optional<Result> ask(QWidget *parent);

protected:
    void showEvent(QShowEvent *e) override;

private:
    QLineEdit *m_name;
    QCheckBox *m_serialAlso;
};

class SerialNumberDialog : public QDialog {
    Q_OBJECT
public:
    explicit SerialNumberDialog(QWidget *parent = nullptr);
    QLineEdit *serialField() const { return m_serial; }
    QString serial() const; // aNewKDRSN as typed (up to 6 digits)
    static std::optional<QString> ask(QWidget *parent);

protected:
    void showEvent(QShowEvent *e) override;

private:
    QLineEdit *m_serial;
};

class NoteDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxNote = 255;
    explicit NoteDialog(const QString &note, QWidget *parent = nullptr);
    QPlainTextEdit *noteField() const { return m_note; }
    QString note() const;
    static std::optional<QString> ask(const QString &note, QWidget *parent);

private:
    void textChanged();
    QPlainTextEdit *m_note;
};

} // namespace kdr

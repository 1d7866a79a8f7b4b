#include "ui/WidgetPrompter.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kdr {

namespace {
QMessageBox::StandardButton toStd(Btn b)
{
    switch (b) {
    case Btn::Ok: return QMessageBox::Ok;
    case Btn::Cancel: return QMessageBox::Cancel;
    case Btn::Yes: return QMessageBox::Yes;
    case Btn::No: return QMessageBox::No;
    case Btn::Abort: return QMessageBox::Abort;
    case Btn::Retry: return QMessageBox::Retry;
    case Btn::Ignore: return QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QString caption(DlgType t)
{
    switch (t) {
    case DlgType::Warning: return QStringLiteral("Warning");
    case DlgType::Error: return QStringLiteral("Error");
    case DlgType::Information: return QStringLiteral("Information");
    case DlgType::Confirmation: return QStringLiteral("Confirm");
    }
    return QString();
}
} // namespace

Btn WidgetPrompter::message(DlgType type, const QString &text, const BtnSet &buttons, const QStringList &captions)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(caption(type));
    box.setText(text);
    switch (type) {
    case DlgType::Warning: box.setIcon(QMessageBox::Warning); break;
    case DlgType::Error: box.setIcon(QMessageBox::Critical); break;
    case DlgType::Information: box.setIcon(QMessageBox::Information); break;
    case DlgType::Confirmation: box.setIcon(QMessageBox::Question); break;
    }
    QHash<QAbstractButton *, Btn> map;
    const BtnSet set = buttons.isEmpty() ? BtnSet{Btn::Ok} : buttons;
    for (int i = 0; i < set.size(); ++i) {
        QPushButton *b = box.addButton(toStd(set[i]));
        if (i < captions.size()) {
            QString c = captions[i];
            b->setText(c); // "&&" shows as one "&"
        }
        map.insert(b, set[i]);
    }
    box.exec();
    return map.value(box.clickedButton(), Btn::Cancel);
}

std::optional<QString> WidgetPrompter::inputText(const QString &title, const QString &prompt, const QString &initial)
{
    bool ok = false;
    const QString s = QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return s;
}

FileDialogResult WidgetPrompter::openFile(const FileDialogRequest &req)
{
    QString selected = req.filters.value(req.filterIndex);
    const QString path = QFileDialog::getOpenFileName(m_parent, req.title, req.folder, req.filters.join(QStringLiteral(";;")), &selected);
    return {path, std::max(0, int(req.filters.indexOf(selected)))};
}

FileDialogResult WidgetPrompter::saveFile(const FileDialogRequest &req)
{
    QString selected = req.filters.value(req.filterIndex);
    const QString start = req.folder.isEmpty() ? req.proposedName : req.folder + QLatin1Char('/') + req.proposedName;
    const QString path = QFileDialog::getSaveFileName(m_parent, req.title, start, req.filters.join(QStringLiteral(";;")), &selected);
    return {path, std::max(0, int(req.filters.indexOf(selected)))};
}

} // namespace kdr

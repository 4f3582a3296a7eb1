#include "platform/window/QtMessagePresenter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include "platform/window/DialogEx.h"
#include "platform/window/DialogLook.h"
#include "platform/core/MessageBox.h"

namespace {

class QtPresenter : public IMessagePresenter {
public:
    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override
    {
        // Owned by the window it speaks for, centred over it, and modal to the
        // whole application from the moment it shows.
        if (!owner)
            owner = CDialogEx::DefaultOwner();
        auto* box = new QMessageBox(owner ? owner->window() : nullptr);
        box->setPalette(DialogPalette());
        box->setWindowModality(Qt::ApplicationModal);
        box->setWindowTitle(QString::fromStdString(request.caption));
        box->setText(QString::fromStdString(request.text));
        switch (request.type & MB_ICONMASK) {
        case MB_ICONERROR: box->setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box->setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box->setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box->setIcon(QMessageBox::Information); break;
        default: box->setIcon(QMessageBox::NoIcon); break;
        }
        QPushButton* yes = nullptr;
        QPushButton* no = nullptr;
        QPushButton* ok = nullptr;
        if ((request.type & MB_TYPEMASK) == MB_YESNO) {
            yes = box->addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
            no = box->addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
            box->setDefaultButton(yes);
            box->setEscapeButton(no);
        } else {
            ok = box->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
            box->setDefaultButton(ok);
            box->setEscapeButton(ok);
        }
        if (!request.blocking) {
            // Shown without holding up the caller, yet modal like every box.
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->show();
            return IDOK;
        }
        box->exec();
        QAbstractButton* clicked = box->clickedButton();
        int result = IDOK;
        if (yes || no)
            result = (clicked == yes) ? IDYES : IDNO;
        delete box;
        return result;
    }

    std::optional<std::string> GetSaveFileName(QWidget* owner, const SaveFileRequest& request) override
    {
        // "Name|pattern|Name|pattern|" becomes Qt's "Name (pattern);;Name (pattern)".
        const QStringList parts = QString::fromStdString(request.filter).split('|', Qt::SkipEmptyParts);
        QStringList filters;
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            QString name = parts[i];
            if (!name.contains('('))
                name += QStringLiteral(" (%1)").arg(parts[i + 1]);
            else
                name = QStringLiteral("%1 (%2)").arg(name.left(name.indexOf('(')), parts[i + 1]);
            filters << name;
        }
        QFileDialog::Options options;
        if (!request.overwritePrompt)
            options |= QFileDialog::DontConfirmOverwrite;
        // The folder of the path chosen before, else home (where the record
        // is), never the working directory the tool happened to start in.
        const QString folder = m_lastFolder.isEmpty() || !QFileInfo(m_lastFolder).isDir() ? QDir::homePath()
                                                                                         : m_lastFolder;
        const QString path = QFileDialog::getSaveFileName(owner, QStringLiteral("另存为"), folder,
                                                          filters.join(QStringLiteral(";;")), nullptr, options);
        if (path.isEmpty())
            return std::nullopt;
        m_lastFolder = QFileInfo(path).absolutePath();
        return path.toStdString();
    }

private:
    QString m_lastFolder;
};

} // namespace

void UseQtMessagePresenter()
{
    static QtPresenter presenter;
    SetDefaultMessagePresenter(&presenter);
}

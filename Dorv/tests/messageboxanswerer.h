#ifndef MESSAGEBOXANSWERER_H
#define MESSAGEBOXANSWERER_H

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// The top-level window with this object name ("Dorv_Form", "SoftUpdateForm", ...), or null.
inline QWidget* findScreen(const QString& objectName)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName)
            return widget;
    }
    return nullptr;
}

struct ShownBox
{
    QString text;
    QString informativeText;
    bool parentIsMainWindow = false;
    bool centredOverMainWindow = false;
    bool onlyOk = false;
};

// Answers every modal message box with its default button, as a user pressing Return would, and keeps what each
// box showed. It polls, so a box that exec() runs in a nested event loop is answered too.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer()
    {
        connect(&m_poll, &QTimer::timeout, this, &MessageBoxAnswerer::answer);
        m_poll.start(5);
    }

    QStringList texts() const
    {
        QStringList result;
        for (const ShownBox& box : boxes)
            result.append(box.text);
        return result;
    }

    QList<ShownBox> boxes;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        QWidget* mainWindow = findScreen(QStringLiteral("Dorv_Form"));
        ShownBox shown;
        shown.text = box->text();
        shown.informativeText = box->informativeText();
        shown.parentIsMainWindow = mainWindow && box->parentWidget() == mainWindow;
        if (mainWindow) {
            const QPoint offset = box->geometry().center() - mainWindow->geometry().center();
            shown.centredOverMainWindow = offset.manhattanLength() <= 2;
        }
        shown.onlyOk = box->buttons().size() == 1 && box->defaultButton() == box->button(QMessageBox::Ok);
        boxes.append(shown);
        box->defaultButton()->click();
    }

    QTimer m_poll;
};

#endif

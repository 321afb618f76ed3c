#pragma once
// Answers the modal windows that a command under test opens, from their own event loops.

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace MainWindowTest {

// Handles, in order, the modal windows that the code under test opens; each step gets one.
// Steps run from the modal window's own event loop (not inside the polling timer), so they may
// open further modal windows. A window that no step is left for is rejected and recorded.
class ModalScript : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    explicit ModalScript(QList<Step> steps = {})
        : steps(std::move(steps))
    {
        connect(&timer, &QTimer::timeout, this, [this]() {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || seen.contains(modal))
                return;
            seen << modal;
            if (handled == this->steps.size()) {
                unexpected << modal->windowTitle();
                QTimer::singleShot(0, qobject_cast<QDialog *>(modal), &QDialog::reject);
                return;
            }
            QTimer::singleShot(0, modal, [step = this->steps.at(handled++), modal]() {
                step(modal);
                // A failed step must not leave its window waiting for ever.
                auto *dialog = qobject_cast<QDialog *>(modal);
                if (dialog && QTest::currentTestFailed() && dialog->isVisible())
                    dialog->QDialog::done(QDialog::Rejected);
            });
        });
    }

    // Runs the command; false (with the cause logged) when a step failed, a step was left over or
    // a window came unasked. Callers wrap it in QVERIFY: a failure inside must end the test there.
    [[nodiscard]] bool Run(const std::function<void()> &command)
    {
        timer.start(10);
        command();
        timer.stop();
        if (handled != steps.size() || !unexpected.isEmpty())
            qWarning() << "steps used:" << handled << "of" << steps.size() << "unasked windows:" << unexpected;
        return handled == steps.size() && unexpected.isEmpty() && !QTest::currentTestFailed();
    }

    [[nodiscard]] bool Run(QAction *action)
    {
        if (!action->isEnabled())
            qWarning() << action->objectName() << "is disabled";
        return action->isEnabled() && Run([action]() { action->trigger(); });
    }

private:
    QList<Step> steps;
    QList<QPointer<QWidget>> seen;
    int handled = 0;
    QStringList unexpected;
    QTimer timer;
};

inline ModalScript::Step Answer(QMessageBox::StandardButton button, const QString &title, const QString &text)
{
    return [=](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), title);
        QCOMPARE(box->text(), text);
        box->button(button)->click();
    };
}

template <typename Dialog>
inline ModalScript::Step Fill(const std::function<void(Dialog *)> &fill)
{
    return [fill](QWidget *widget) {
        auto *dialog = qobject_cast<Dialog *>(widget);
        QVERIFY(dialog);
        fill(dialog);
    };
}

template <typename Dialog>
inline void Press(Dialog *dialog, QDialogButtonBox::StandardButton which)
{
    dialog->ui->buttonBox->button(which)->click();
}

} // namespace MainWindowTest

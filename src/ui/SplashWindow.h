#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace quillora::ui {

// frmSplash: the banner shown once at start-up; it closes itself after two seconds and takes
// no input meanwhile.
class SplashWindow : public QDialog
{
    Q_OBJECT

public:
    explicit SplashWindow(QWidget* mainWindow);

    QTimer* timer() const { return m_timer1; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private slots:
    void Timer1_Timer();

private:
    void drawPicture();

    QLabel* m_image1 = nullptr;
    QTimer* m_timer1 = nullptr;
    bool m_closing = false;
};

// The one reference through which the program reaches the splash window; the window clears it
// when it closes.
extern SplashWindow* frmSplash;

} // namespace quillora::ui

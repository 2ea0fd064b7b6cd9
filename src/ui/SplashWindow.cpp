#include "ui/SplashWindow.h"

#include "ui/Artwork.h"
#include "ui/ClassicLook.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

namespace quillora::ui {

SplashWindow* frmSplash = nullptr;

SplashWindow::SplashWindow(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName("frmSplash");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(true);
    setFixedSize(twips(0, 0, 4515, 2280).size());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    // The picture with its one-pixel border is a pixel wider than the window: the right-hand
    // border column falls outside.
    m_image1 = new QLabel(this);
    m_image1->setObjectName("Image1");
    m_image1->setGeometry(twips(0, 0, 4530, 2280));
    m_image1->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_image1->setLineWidth(1);
    drawPicture();
    m_image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setInterval(2000);
    m_timer1->setSingleShot(true);
    connect(m_timer1, &QTimer::timeout, this, &SplashWindow::Timer1_Timer);
    // Loading the window starts the two seconds.
    m_timer1->start();
}

void SplashWindow::Timer1_Timer()
{
    if (m_closing)
        return;
    m_closing = true;
    done(Accepted);
    close();
    frmSplash = nullptr;
}

void SplashWindow::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}
void SplashWindow::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void SplashWindow::reject()
{
    // Escape and the window system's close requests do not end the splash early.
}

void SplashWindow::drawPicture()
{
    const qreal ratio = devicePixelRatioF();
    if (m_image1->pixmap().devicePixelRatio() != ratio || m_image1->pixmap().isNull())
        m_image1->setPixmap(QPixmap::fromImage(drawSplashPicture(ratio)));
}

void SplashWindow::showEvent(QShowEvent* event)
{
    // Only now is the screen known, and with it its density.
    drawPicture();
    if (const QWidget* owner = parentWidget()) {
        QRect box = frameGeometry();
        box.moveCenter(owner->frameGeometry().center());
        move(box.topLeft());
    }
    QDialog::showEvent(event);
}

} // namespace quillora::ui

#include "forms/system/About_Unit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QPointer<TfrmAbout> frmAbout;

QPixmap AboutPicture(const QSize &size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(36, 92, 128));
    sky.setColorAt(1, QColor(128, 186, 196));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), w * 0.08, h * 0.08);

    // The sun behind the hall.
    p.setBrush(QColor(250, 214, 120));
    p.drawEllipse(QPointF(w * 0.72, h * 0.30), w * 0.13, w * 0.13);

    // The hall: a roof, a frieze, four columns and the steps.
    const QColor stone(246, 244, 236);
    const QPen outline(QColor(30, 60, 80), qMax<qreal>(1.0, w / 80.0));
    p.setPen(outline);
    p.setBrush(stone);
    QPainterPath roof;
    roof.moveTo(w * 0.16, h * 0.44);
    roof.lineTo(w * 0.50, h * 0.22);
    roof.lineTo(w * 0.84, h * 0.44);
    roof.closeSubpath();
    p.drawPath(roof);
    p.drawRect(QRectF(w * 0.18, h * 0.44, w * 0.64, h * 0.06));
    for (int i = 0; i < 4; ++i) {
        const qreal x = w * (0.24 + i * 0.16);
        p.drawRect(QRectF(x - w * 0.035, h * 0.50, w * 0.07, h * 0.24));
    }
    p.drawRect(QRectF(w * 0.14, h * 0.74, w * 0.72, h * 0.05));
    p.drawRect(QRectF(w * 0.10, h * 0.79, w * 0.80, h * 0.05));

    // A small open book in the gable.
    p.setBrush(QColor(36, 92, 128));
    p.setPen(Qt::NoPen);
    QPainterPath book;
    book.moveTo(w * 0.50, h * 0.40);
    book.lineTo(w * 0.43, h * 0.38);
    book.lineTo(w * 0.43, h * 0.33);
    book.lineTo(w * 0.50, h * 0.35);
    book.lineTo(w * 0.57, h * 0.33);
    book.lineTo(w * 0.57, h * 0.38);
    book.closeSubpath();
    p.drawPath(book);
    return pixmap;
}

TfrmAbout::TfrmAbout(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于..."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(96, 96);
    Image1->setPixmap(AboutPicture(Image1->size()));
    Image1->setScaledContents(true);

    Label1 = new QLabel(QStringLiteral("Veltrana"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = font();
    big.setBold(true);
    big.setPointSizeF(font().pointSizeF() * 2.2);
    Label1->setFont(big);

    Label2 = new QLabel(QStringLiteral("© 2026 Veltrana 项目 · 自由软件，依 GNU GPL 第 3 版或更新版本发布"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont bold = font();
    bold.setBold(true);
    Label2->setFont(bold);

    // Texts are drawn over the window's own background.
    for (QLabel *l : {Label1, Label2})
        l->setAttribute(Qt::WA_TranslucentBackground);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(20, 20, 28, 20);
    layout->setHorizontalSpacing(24);
    layout->setVerticalSpacing(16);
    layout->addWidget(Image1, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(Label1, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(Label2, 1, 0, 1, 2, Qt::AlignLeft);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

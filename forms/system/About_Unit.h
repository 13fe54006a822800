#pragma once
// The about window: a picture, the product's name and a rights notice.
// Modal, created for each use; the caller releases it after it closes.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class QLabel;

class TfrmAbout : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *owner);

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;  // the product name
    QLabel *Label2 = nullptr;  // the rights notice
};

extern QPointer<TfrmAbout> frmAbout;

// The about window's picture, drawn in code: a school hall under a rising sun.
QPixmap AboutPicture(const QSize &size);

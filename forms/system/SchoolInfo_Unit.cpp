#include "forms/system/SchoolInfo_Unit.h"

#include "data/ProgramSettings.h"
#include "data/SettingsClient.h"
#include "gui/Shell_Unit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

QPointer<TfrmSchoolInfo> frmSchoolInfo;

namespace {

const QString infoSection = QStringLiteral("Info");

struct InfoField
{
    QLineEdit *box;
    QString key;
    QString caption;  // the field's name in messages
};

QList<InfoField> infoFields(const TfrmSchoolInfo *w)
{
    return {{w->edtSchoolName, QStringLiteral("SchoolName"), QStringLiteral("学校名称")},
            {w->edtSchoolAddress, QStringLiteral("SchoolAddress"), QStringLiteral("地址")},
            {w->edtLinkMan, QStringLiteral("LinkMan"), QStringLiteral("联系人")},
            {w->edtType, QStringLiteral("Type"), QStringLiteral("联系方式")}};
}

}

TfrmSchoolInfo::TfrmSchoolInfo(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmSchoolInfo"));
    setWindowTitle(QStringLiteral("学校信息"));

    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setMinimumWidth(300);
        return e;
    };
    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Label1 = label("Label1", QStringLiteral("学校名称："));
    Label2 = label("Label2", QStringLiteral("地    址："));
    Label3 = label("Label3", QStringLiteral("联 系 人："));
    Label4 = label("Label4", QStringLiteral("联系方式："));
    edtSchoolName = edit("edtSchoolName");
    edtSchoolAddress = edit("edtSchoolAddress");
    edtLinkMan = edit("edtLinkMan");
    edtType = edit("edtType");
    btnOK = button("btnOK", QStringLiteral("确定(&O)"));
    btnCancel = button("btnCancel", QStringLiteral("取消(&C)"));

    auto *fields = new QGridLayout;
    const QList<QPair<QLabel *, QLineEdit *>> rows = {
        {Label1, edtSchoolName}, {Label2, edtSchoolAddress}, {Label3, edtLinkMan}, {Label4, edtType}};
    for (int r = 0; r < rows.size(); ++r) {
        fields->addWidget(rows[r].first, r, 0);
        fields->addWidget(rows[r].second, r, 1);
        rows[r].first->setBuddy(rows[r].second);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(12);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(edtSchoolName, edtSchoolAddress);
    setTabOrder(edtSchoolAddress, edtLinkMan);
    setTabOrder(edtLinkMan, edtType);
    setTabOrder(edtType, btnOK);
    setTabOrder(btnOK, btnCancel);

    connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { Guarded([this] { btnCancelClick(); }); });
}

void TfrmSchoolInfo::showEvent(QShowEvent *event)
{
    TfrmBase::showEvent(event);
    // Read once, when the window first appears; bringing it to the front or
    // restoring it from a minimised state does not read again.
    if (!event->spontaneous() && !m_shown) {
        m_shown = true;
        Guarded([this] { FormShow(); });
    }
}

void TfrmSchoolInfo::FormShow()
{
    // Without the library or its entry point nothing is read: the boxes stay empty.
    if (!settings::entryPointAvailable("ReadIni"))
        return;
    for (const InfoField &f : infoFields(this))
        f.box->setText(settings::readIni(GetConfigFileName(), infoSection, f.key));
}

void TfrmSchoolInfo::btnOKClick()
{
    const QList<InfoField> fields = infoFields(this);
    // The settings file holds one value per line: a line break cannot be
    // stored, and then none of the four keys is written.
    for (const InfoField &f : fields) {
        const QString text = f.box->text();
        if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
            ShowMessage(QStringLiteral("%1中含有换行符,无法保存,信息没有保存!").arg(f.caption), QStringLiteral("错误"),
                        QMessageBox::Critical, QMessageBox::Ok);
            f.box->setFocus();
            return;
        }
    }
    if (!settings::entryPointAvailable("WriteIni")) {
        ShowMessage(QStringLiteral("找不到配置程序库,信息没有保存!"), QStringLiteral("错误"), QMessageBox::Critical,
                    QMessageBox::Ok);
        return;
    }
    // The four keys are saved together: when a write fails, the keys already
    // written get their previous values back before the failure is reported.
    QStringList previous;
    for (const InfoField &f : fields)
        previous << settings::readIni(GetConfigFileName(), infoSection, f.key);
    int written = 0;
    try {
        for (const InfoField &f : fields) {
            settings::writeIni(GetConfigFileName(), infoSection, f.key, f.box->text());
            ++written;
        }
    } catch (...) {
        for (int i = 0; i < written; ++i) {
            try {
                settings::writeIni(GetConfigFileName(), infoSection, fields[i].key, previous[i]);
            } catch (...) {
            }
        }
        throw;
    }
    ShowMessage(QStringLiteral("信息保存成功!"), QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
}

void TfrmSchoolInfo::btnCancelClick()
{
    closeWindow();
}

void TfrmSchoolInfo::FormClose()
{
    TfrmBase::FormClose();
    frmSchoolInfo = nullptr;
}

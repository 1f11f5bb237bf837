// SPDX-License-Identifier: Apache-2.0
#include "gui/about_box.h"

#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include "base/messages.h"
#include "gui/app_icon.h"
#include "gui/fixed_layout.h"
#include "gui/gui_texts.h"
#include "gui/platform_registry.h"

namespace reburn3 {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Designed geometry, in pixels.
constexpr int kWidth = 440;
constexpr int kHeight = 236;

}  // namespace

QtSysInfoPlatform::QtSysInfoPlatform(QWidget* messageParent)
    : m_messageParent(messageParent), m_registry(platformRegistry()) {}

QtSysInfoPlatform::~QtSysInfoPlatform() = default;

bool QtSysInfoPlatform::fileExists(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).isFile();
}

bool QtSysInfoPlatform::startProgram(const std::string& path) {
    return QProcess::startDetached(QString::fromStdString(path), {});
}

void QtSysInfoPlatform::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, qs(text::kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, m_messageParent);
    box.exec();
}

AboutBox::AboutBox(SysInfoPlatform& platform, QWidget* parent)
    : QDialog(parent), m_platform(platform) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(appIcon());
    setFixedSize(kWidth, kHeight);

    m_picIcon = new QLabel(this);
    m_picIcon->setObjectName(QStringLiteral("picIcon"));
    m_picIcon->setPixmap(appIconPixmap(32));
    m_picIcon->setGeometry(16, 16, 36, 36);
    m_picIcon->setAlignment(Qt::AlignCenter);
    m_picIcon->setFocusPolicy(Qt::TabFocus);

    m_lblTitle = new QLabel(this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = m_lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    m_lblTitle->setFont(titleFont);
    m_lblTitle->setGeometry(72, 14, 356, 26);

    m_lblVersion = new QLabel(this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_lblVersion->setGeometry(72, 42, 356, 20);

    m_lblDescription = new QLabel(qs(text::kAboutDescription), this);
    m_lblDescription->setObjectName(QStringLiteral("lblDescription"));
    m_lblDescription->setWordWrap(true);
    m_lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblDescription->setGeometry(72, 66, 356, 52);

    // An etched rule: a sunken line reads as the grey line over a white one.
    m_line1 = new QFrame(this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Sunken);
    m_line1->setLineWidth(1);
    m_line1->setGeometry(8, 124, kWidth - 16, 3);

    m_lblDisclaimer = new QLabel(qs(text::gui::kCredit), this);
    m_lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    m_lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblDisclaimer->setGeometry(16, 134, 300, 96);

    m_cmdOK = new QPushButton(qs(text::gui::kOk), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(328, 140, 100, 28);
    m_cmdOK->setDefault(true);
    m_cmdOK->setAutoDefault(true);

    m_cmdSysInfo = new QPushButton(qs(text::gui::kSysInfo), this);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setGeometry(328, 176, 100, 28);
    m_cmdSysInfo->setAutoDefault(false);

    setTabOrder(m_cmdOK, m_picIcon);
    setTabOrder(m_picIcon, m_cmdSysInfo);

    connect(m_cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(m_cmdSysInfo, &QPushButton::clicked, this, [this] { cmdSysInfo_Click(); });

    Form_Load();
    // The designed geometry, scaled alike when the font needs more room.
    const double factor = captionScale(*this);
    scaleControls(*this, factor);
    setFixedSize(scaled(QSize(kWidth, kHeight), factor));
    m_cmdOK->setFocus();
}

void AboutBox::Form_Load() {
    setWindowTitle(qs(text::gui::kAboutTitlePrefix) + qs(text::kAppTitle));
    m_lblVersion->setText(qs(text::gui::kVersionPrefix) + QString::number(text::kVersionMajor) +
                          QLatin1Char('.') + QString::number(text::kVersionMinor) +
                          QLatin1Char('.') + QString::number(text::kVersionRevision));
    m_lblTitle->setText(qs(text::kAppTitle));
}

// Esc reaches here too, through the dialog's reject.
void AboutBox::cmdOK_Click() {
    accept();
}

void AboutBox::cmdSysInfo_Click() {
    StartSysInfo(m_platform);
}

}  // namespace reburn3

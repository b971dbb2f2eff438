#include "window/proxyform.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "store/setupinfo.h"
#include "util/datetime.h"
#include "widgets/msgbox.h"
#include "window/brwfolderform.h"

namespace veltrano {
namespace {

constexpr int kMaxTryCount = 999;

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, buddy->parentWidget());
    label->setBuddy(buddy);
    return label;
}

} // namespace

TProxyForm::TProxyForm(TSetupInfo &setup, CodePage codePage, QWidget *parent)
    : QDialog(parent)
    , m_setup(setup)
    , m_codePage(std::move(codePage))
{
    setWindowTitle(tr("代理伺服器"));
    createControls();
    FormCreate();
}

void TProxyForm::createControls()
{
    auto *source = new QGroupBox(tr("來源"), this);
    auto *sourceRow = new QHBoxLayout(source);
    m_local = new QRadioButton(tr("本機端"), source);
    m_remote = new QRadioButton(tr("代理伺服器(1)"), source);
    sourceRow->addWidget(m_local);
    sourceRow->addWidget(m_remote);
    sourceRow->addStretch(1);

    m_pages = new QTabWidget(this);
    auto *remotePage = new QWidget(m_pages);
    m_host = new QLineEdit(remotePage);
    m_user = new QLineEdit(remotePage);
    m_password = new QLineEdit(remotePage);
    m_password->setEchoMode(QLineEdit::Password);
    m_port = new QLineEdit(remotePage);
    m_port->setMaximumWidth(
            m_port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    m_passive = new QCheckBox(tr("使用被動模式(在防火牆之後)"), remotePage);
    auto *remoteGrid = new QGridLayout(remotePage);
    remoteGrid->addWidget(caption(tr("位置"), m_host), 0, 0);
    remoteGrid->addWidget(m_host, 0, 1, 1, 3);
    remoteGrid->addWidget(caption(tr("使用者"), m_user), 1, 0);
    remoteGrid->addWidget(m_user, 1, 1);
    remoteGrid->addWidget(caption(tr("密碼"), m_password), 1, 2);
    remoteGrid->addWidget(m_password, 1, 3);
    remoteGrid->addWidget(caption(tr("PORT"), m_port), 2, 0);
    remoteGrid->addWidget(m_port, 2, 1, Qt::AlignLeft);
    remoteGrid->addWidget(m_passive, 3, 0, 1, 4);
    remoteGrid->setColumnStretch(1, 1);
    remoteGrid->setColumnStretch(3, 1);
    m_pages->addTab(remotePage, tr("代理伺服器(1)"));

    auto *general = new QGroupBox(tr("一般選項"), this);
    m_target = new QLineEdit(general);
    m_browse = new QPushButton(tr("瀏覽..."), general);
    m_browse->setAutoDefault(false);
    m_tryCount = new QSpinBox(general);
    m_tryCount->setRange(1, kMaxTryCount);
    m_interval = new QLineEdit(general);
    auto *generalGrid = new QGridLayout(general);
    generalGrid->addWidget(caption(tr("下載路徑"), m_target), 0, 0);
    generalGrid->addWidget(m_target, 0, 1, 1, 3);
    generalGrid->addWidget(m_browse, 0, 4);
    generalGrid->addWidget(caption(tr("嘗試下載次數"), m_tryCount), 1, 0);
    generalGrid->addWidget(m_tryCount, 1, 1);
    generalGrid->addWidget(caption(tr("嘗試間隔"), m_interval), 1, 2);
    generalGrid->addWidget(m_interval, 1, 3);
    generalGrid->setColumnStretch(1, 1);
    generalGrid->setColumnStretch(3, 1);

    m_ok = new QPushButton(tr("確定"), this);
    m_cancel = new QPushButton(tr("放棄"), this);
    m_ok->setDefault(true);
    m_cancel->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto *column = new QVBoxLayout(this);
    column->addWidget(source);
    column->addWidget(m_pages);
    column->addWidget(general);
    column->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_ok, &QPushButton::clicked, this, &TProxyForm::BitBtn1Click);
    connect(m_cancel, &QPushButton::clicked, this, &TProxyForm::BitBtn2Click);
    connect(m_browse, &QPushButton::clicked, this, &TProxyForm::BitBtn3Click);
}

QString TProxyForm::intervalText(double days)
{
    const DateTimeParts parts = decodeDateTime(days);
    return QStringLiteral("%1:%2:%3")
            .arg(parts.hour, 2, 10, QLatin1Char('0'))
            .arg(parts.minute, 2, 10, QLatin1Char('0'))
            .arg(parts.second, 2, 10, QLatin1Char('0'));
}

std::optional<double> TProxyForm::parseInterval(const QString &text)
{
    static const QRegularExpression timeOnly(
            QStringLiteral(R"(^\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?\s*$)"));
    const QRegularExpressionMatch match = timeOnly.match(text);
    if (match.hasMatch())
        return encodeTime(match.captured(1).toInt(), match.captured(2).toInt(),
                match.captured(3).isEmpty() ? 0 : match.captured(3).toInt());
    return parseDateTime(text.toStdString());
}

void TProxyForm::FormCreate()
{
    const auto text = [this](const std::string &field) {
        return QString::fromStdString(m_codePage.toUtf8(field));
    };
    m_host->setText(text(m_setup.RemoteHost));
    m_user->setText(text(m_setup.RemoteUser));
    m_password->setText(text(m_setup.RemotePassword));
    m_port->setText(QString::number(m_setup.RemotePort));
    m_target->setText(text(m_setup.DownloadFolder));
    m_tryCount->setValue(m_setup.TryCount);
    m_interval->setText(intervalText(m_setup.TryInterval));
    m_passive->setChecked(m_setup.PassiveMode != 0);
    (m_setup.Source == kSourceRemote ? m_remote : m_local)->setChecked(true);
}

void TProxyForm::BitBtn1Click()
{
    const auto bytes = [this](const QLineEdit *edit) {
        return m_codePage.fromUtf8Lossy(edit->text().toStdString());
    };
    copyText(m_setup.RemoteHost, bytes(m_host), m_codePage);
    copyText(m_setup.RemoteUser, bytes(m_user), m_codePage);
    copyText(m_setup.RemotePassword, bytes(m_password), m_codePage, kPasswordLimit);
    m_setup.PassiveMode = m_passive->isChecked() ? 1 : 0;
    if (!storePort() || !storeDownloadFolder())
        return;
    m_setup.TryCount = m_tryCount->value();
    if (!storeInterval())
        return;
    m_setup.Source = m_remote->isChecked() ? kSourceRemote : kSourceLocal;
    m_confirmed = true;
    accept();
}

bool TProxyForm::storePort()
{
    const QString text = m_port->text();
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        MsgBox(this, tr("「%1」不是有效的整數").arg(text).toStdString(), mkError);
        m_port->setFocus();
        return false;
    }
    // A socket port is 16 bits: a larger number would quietly reach some other port.
    if (port < 1 || port > 65535) {
        MsgBox(this, tr("「%1」不是有效的連接埠(1 到 65535)").arg(text).toStdString(), mkError);
        m_port->setFocus();
        return false;
    }
    m_setup.RemotePort = port;
    return true;
}

bool TProxyForm::storeDownloadFolder()
{
    const QString text = m_target->text().trimmed();
    const std::optional<std::string> encoded = m_codePage.fromUtf8(text.toStdString());
    // A folder the record cannot hold whole is refused: cut or patched, it would name
    // another folder and downloads would land there.
    if (!encoded) {
        MsgBox(this, tr("下載路徑含有無法儲存的字元:%1").arg(text).toStdString(), mkError);
        m_target->setFocus();
        return false;
    }
    std::string folder = *encoded;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    if (folder.size() > kSetupTextLimit) {
        MsgBox(this,
                tr("下載路徑過長(最多 %1 位元組):%2").arg(kSetupTextLimit).arg(text).toStdString(),
                mkError);
        m_target->setFocus();
        return false;
    }
    m_setup.DownloadFolder = folder;
    return true;
}

bool TProxyForm::storeInterval()
{
    const std::optional<double> interval = parseInterval(m_interval->text());
    if (!interval) {
        MsgBox(this, invalidDateTimeText(m_interval->text().toStdString()), mkError);
        m_interval->setFocus();
        return false;
    }
    m_setup.TryInterval = *interval;
    return true;
}

void TProxyForm::BitBtn2Click()
{
    reject();
}

void TProxyForm::BitBtn3Click()
{
    TBrwFolderForm browser(this);
    browser.setFont(font());
    QString start = m_target->text().trimmed();
    if (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    browser.setPath(start);
    browser.exec();
    if (!browser.isAccepted())
        return;
    QString chosen = browser.path();
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    m_target->setText(chosen);
}

} // namespace veltrano

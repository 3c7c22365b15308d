#include "FailureDetailsDialog.h"

#include "DownloadCard.h"
#include "queue/DownloadItem.h"
#include "shared/L10n.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

FailureDetailsDialog::FailureDetailsDialog(DownloadItem &item, QWidget *parent)
    : QDialog(parent)
    , m_item(&item)
    , m_text(new QPlainTextEdit(this))
{
    setObjectName(u"failureDetails"_s);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(L10n::tr(u"下载失败详情"_s));
    setFixedSize(640, 360);

    auto *title = new QLabel(L10n::tr(u"下载失败详情"_s), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);

    m_text->setReadOnly(true);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setPlainText(DownloadCard::detailsText(item));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto *caption = new QLabel(L10n::tr(u"显示最近的运行日志"_s), this);
    caption->setForegroundRole(QPalette::PlaceholderText);
    auto *copy = new QPushButton(L10n::tr(u"复制详情"_s), this);
    copy->setObjectName(u"copyDetailsButton"_s);
    copy->setAutoDefault(false);
    auto *close = new QPushButton(L10n::tr(u"关闭"_s), this);
    close->setObjectName(u"closeButton"_s);
    close->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, &FailureDetailsDialog::copy);
    connect(close, &QPushButton::clicked, this, &QDialog::reject); // Escape does the same

    auto *row = new QHBoxLayout;
    row->addWidget(caption);
    row->addStretch();
    row->addWidget(copy);
    row->addWidget(close);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addWidget(title);
    column->addWidget(m_text, 1);
    column->addLayout(row);
}

QString FailureDetailsDialog::shownText() const
{
    return m_text->toPlainText();
}

void FailureDetailsDialog::copy()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_item ? DownloadCard::detailsToCopy(*m_item) : QString());
}

#include "AddDownloadDialog.h"

#include "queue/DownloadManager.h"
#include "shared/L10n.h"
#include "store/AppSettings.h"

#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> clipboardText()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

} // namespace

AddDownloadDialog::AddDownloadDialog(DownloadManager &manager, AppSettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_manager(manager)
    , m_settings(settings)
    , m_editor(new QPlainTextEdit(this))
    , m_qualities(new QComboBox(this))
    , m_start(new QPushButton(this))
{
    setObjectName(u"addDownloadSheet"_s);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(L10n::tr(u"添加下载"_s));
    setFixedWidth(580);

    auto *title = new QLabel(L10n::tr(u"添加下载"_s), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title->setFont(titleFont);
    auto *hint = new QLabel(L10n::tr(u"每行一个链接，支持视频页与播放列表："_s), this);
    hint->setForegroundRole(QPalette::PlaceholderText);

    m_editor->setObjectName(u"linksEditor"_s);
    m_editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_editor->setMinimumHeight(140);
    m_editor->setTabChangesFocus(true);
    m_editor->setAccessibleName(L10n::tr(u"每行一个链接，支持视频页与播放列表："_s));

    auto *qualityLabel = new QLabel(L10n::tr(u"画质"_s), this);
    qualityLabel->setBuddy(m_qualities);
    m_qualities->setObjectName(u"qualityPicker"_s);
    m_qualities->setFixedWidth(220 - qualityLabel->sizeHint().width());
    for (const auto &[label, value] : AppSettings::qualityOptions())
        m_qualities->addItem(label, value);
    auto *fill = new QPushButton(L10n::tr(u"从剪贴板填入"_s), this);
    fill->setObjectName(u"fillFromClipboardButton"_s);
    fill->setAutoDefault(false);

    auto *cancel = new QPushButton(L10n::tr(u"取消"_s), this);
    cancel->setObjectName(u"cancelButton"_s);
    cancel->setAutoDefault(false);
    m_start->setObjectName(u"startButton"_s);
    m_start->setText(L10n::tr(u"开始下载"_s));
    m_start->setDefault(true);

    auto *options = new QHBoxLayout;
    options->addWidget(qualityLabel);
    options->addWidget(m_qualities);
    options->addWidget(fill);
    options->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(m_start);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addWidget(title);
    column->addWidget(hint);
    column->addWidget(m_editor, 1);
    column->addLayout(options);
    column->addLayout(buttons);

    connect(m_editor, &QPlainTextEdit::textChanged, this, &AddDownloadDialog::updateEnabled);
    connect(m_qualities, &QComboBox::activated, this, [this](int index) { m_quality = m_qualities->itemData(index).toInt(); });
    connect(fill, &QPushButton::clicked, this, &AddDownloadDialog::fillFromClipboard);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_start, &QPushButton::clicked, this, &AddDownloadDialog::startDownload);

    // What the sheet shows when it opens: the stored quality, and the clipboard when it holds a link.
    setQuality(m_settings.defaultQuality());
    if (const std::optional<QString> text = clipboardText(); text && text->trimmed().startsWith(u"http"_s))
        m_editor->setPlainText(*text);
    updateEnabled();
}

int AddDownloadDialog::urlCount(const QString &text)
{
    int count = 0;
    for (const QString &line : text.split(u'\n')) {
        qsizetype start = 0;
        qsizetype end = line.size();
        while (start < end && (line[start] == u' ' || line[start] == u'\t'))
            ++start;
        while (end > start && (line[end - 1] == u' ' || line[end - 1] == u'\t'))
            --end;
        if (QStringView(line).sliced(start, end - start).startsWith(u"http"_s))
            ++count;
    }
    return count;
}

QString AddDownloadDialog::text() const
{
    return m_editor->toPlainText();
}

void AddDownloadDialog::setText(const QString &text)
{
    m_editor->setPlainText(text);
}

void AddDownloadDialog::setQuality(int quality)
{
    m_quality = quality;
    const int index = m_qualities->findData(quality);
    m_qualities->setCurrentIndex(index);
}

bool AddDownloadDialog::canStart() const
{
    return m_start->isEnabled();
}

void AddDownloadDialog::updateEnabled()
{
    m_start->setEnabled(urlCount(text()) > 0);
}

void AddDownloadDialog::fillFromClipboard()
{
    if (const std::optional<QString> text = clipboardText())
        m_editor->setPlainText(*text);
}

void AddDownloadDialog::startDownload()
{
    if (!canStart())
        return;
    // Stored first, so the new items take the chosen quality.
    m_settings.setDefaultQuality(m_quality);
    m_manager.add(text().split(u'\n'));
    accept();
}

#include "EmptyStateView.h"

#include "SymbolIcon.h"
#include "shared/L10n.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

EmptyStateView::EmptyStateView(QWidget *parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_title(new QLabel(this))
    , m_text(new QLabel(this))
    , m_paste(new QPushButton(this))
    , m_add(new QPushButton(this))
{
    setObjectName(u"emptyState"_s);
    m_paste->setObjectName(u"emptyPasteButton"_s);
    m_add->setObjectName(u"emptyAddButton"_s);
    m_icon->setAlignment(Qt::AlignCenter);
    m_title->setAlignment(Qt::AlignCenter);
    m_text->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    m_title->setFont(titleFont);
    m_text->setForegroundRole(QPalette::PlaceholderText);
    // Return triggers the paste button, as the panel's default action.
    m_paste->setDefault(true);
    m_paste->setAutoDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    buttons->addWidget(m_paste);
    buttons->addWidget(m_add);
    buttons->addStretch();

    auto *column = new QVBoxLayout(this);
    column->setSpacing(16);
    column->addStretch();
    column->addWidget(m_icon);
    column->addWidget(m_title);
    column->addWidget(m_text);
    column->addSpacing(4);
    column->addLayout(buttons);
    column->addStretch();

    connect(m_paste, &QPushButton::clicked, this, &EmptyStateView::pasteRequested);
    connect(m_add, &QPushButton::clicked, this, &EmptyStateView::addRequested);
    updateIcon();
    retranslate();
}

void EmptyStateView::retranslate()
{
    m_title->setText(L10n::tr(u"拖入链接开始下载"_s));
    m_text->setText(L10n::tr(u"下载你拥有或获授权保存的视频\n也可以直接 Ctrl+Shift+V 粘贴剪贴板中的链接"_s));
    m_paste->setText(L10n::tr(u"粘贴链接下载"_s));
    m_add->setText(L10n::tr(u"添加链接…"_s));
}

void EmptyStateView::setDropTargeted(bool targeted)
{
    if (targeted == m_dropTargeted)
        return;
    m_dropTargeted = targeted;
    update();
}

void EmptyStateView::updateIcon()
{
    QColor color = palette().color(QPalette::PlaceholderText);
    m_icon->setPixmap(SymbolIcon::pixmap(u"arrow.down.circle"_s, 64, color, palette().color(QPalette::Window),
                                         devicePixelRatioF()));
}

void EmptyStateView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateIcon();
}

void EmptyStateView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = m_dropTargeted ? palette().color(QPalette::Highlight) : palette().color(QPalette::PlaceholderText);
    if (!m_dropTargeted)
        color.setAlphaF(0.3f);
    QPen pen(color, 2);
    pen.setDashPattern({4, 4}); // 8 px dashes at width 2
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(25, 25, -25, -25), 12, 12);
}

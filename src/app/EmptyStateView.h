#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// What the main window shows while the queue is empty: a hint, paste and add buttons, and a
// dashed outline that lights up while links are dragged over the window.
class EmptyStateView : public QWidget
{
    Q_OBJECT

public:
    explicit EmptyStateView(QWidget *parent = nullptr);

    void setDropTargeted(bool targeted);
    bool isDropTargeted() const { return m_dropTargeted; }
    void retranslate();

Q_SIGNALS:
    void pasteRequested();
    void addRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateIcon();

    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_text;
    QPushButton *m_paste;
    QPushButton *m_add;
    bool m_dropTargeted = false;
};

#pragma once

#include <QWidget>

// The dashed accent outline over the list while links are dragged over the window. It lets
// every mouse event through.
class DropOutline : public QWidget
{
    Q_OBJECT

public:
    explicit DropOutline(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

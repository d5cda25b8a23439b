#pragma once

#include <QColor>
#include <QWidget>

// A solid filled rectangle (the progress track and its fill), sized in twips.
class Shape : public QWidget
{
    Q_OBJECT
public:
    Shape(const QColor &fill, QWidget *parent = nullptr);

    void setGeometryTwips(int left, int top, int width, int height);
    double widthTwips() const { return m_width; }
    void setWidthTwips(double width);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_fill;
    int m_left = 0, m_top = 0, m_height = 0;
    double m_width = 0;
};

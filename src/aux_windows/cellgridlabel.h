#pragma once

#include "troubleshooting.h"

#include <QWidget>

// A label that draws its text on the troubleshooting cell grid: every
// character in its own 12 or 6 px cell, lines 12 px apart, whatever the font's
// own advances are. Text that does not fit the height is not shown.
class CellGridLabel final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CellGridLabel)

public:
    explicit CellGridLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    const QList<troubleshooting::Line>& lines() const { return m_lines; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QList<troubleshooting::Line> m_lines;
};

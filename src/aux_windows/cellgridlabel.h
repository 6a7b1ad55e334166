#pragma once

#include "cellgrid.h"

#include <QWidget>

// A label that wraps and draws its text on the character cell grid: every
// character in its own 12 or 6 px cell, lines 12 px apart, whatever the font's
// own advances and line spacing are. Lines that do not fit the height are not
// shown.
class CellGridLabel final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CellGridLabel)
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit CellGridLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    const QList<cellgrid::Line>& lines() const { return m_lines; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();

    QString m_text;
    QList<cellgrid::Line> m_lines;
};

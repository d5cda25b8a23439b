#pragma once

#include <QPlainTextEdit>

// The preview box. Holds the exact dump text (CR LF between lines) and shows it read-only,
// selectable and copyable, in the preview's fixed-pitch face.
class HexPreview : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit HexPreview(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }

private:
    QString m_text;
};

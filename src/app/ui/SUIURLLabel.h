// A label that opens a web address when clicked, coloured as a link.
#pragma once

#include <QColor>
#include <QLabel>

#include <string>

class TsuiURLLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TsuiURLLabel(QWidget* parent = nullptr);

  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& url);
  QColor FontHoverColor() const { return FFontHoverColor; }
  void SetFontHoverColor(const QColor& c) { FFontHoverColor = c; }
  QColor FontLinkColor() const { return FFontLinkColor; }
  // Also colours the label at once.
  void SetFontLinkColor(const QColor& c);
  // The colour the label is drawn in now.
  QColor FontColor() const { return FFontColor; }
  // The caption; the label takes the size of its text.
  void SetCaption(const QString& text);

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void SetFontColor(const QColor& c);
  void Click();

  std::string FURL;
  QColor FFontHoverColor;
  QColor FFontLinkColor;
  QColor FFontColor;
  bool FLeftDown = false;
};

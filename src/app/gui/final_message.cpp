#include "app/gui/final_message.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace velmora::gui {
namespace {

QRect Available(const QWidget* near) {
  const QScreen* screen = near && near->screen() ? near->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// Room a window manager's frame and the box's own parts take beside the lines.
constexpr int kChrome = 200;

}  // namespace

bool TooTallForABox(const QWidget* near, int lines) {
  const int line = QFontMetrics(QApplication::font()).lineSpacing();
  return lines * line + kChrome > Available(near).height();
}

FinalMessage::FinalMessage(QWidget* parent, const QString& heading, const QStringList& lines, int count,
                           std::function<void()> open_results)
    : QDialog(parent) {
  setWindowTitle("Velmora");
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(new QLabel(heading, this), 1);
  list_ = new QListWidget(this);
  list_->addItems(lines);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  results_ = buttons->addButton(QCoreApplication::translate("MainWindow", "変換結果表示"), QDialogButtonBox::ActionRole);
  // Enter closes the message, even with the focus back on 変換結果表示
  // after the results window was closed.
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  results_->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(results_, &QPushButton::clicked, this, [open_results] {
    if (open_results) open_results();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(list_, 1);
  layout->addWidget(new QLabel(QCoreApplication::translate("MainWindow", "%1 件").arg(count), this));
  layout->addWidget(buttons);
  // As wide as a line needs, as tall as the lines need, within the screen.
  const QRect screen = Available(parent);
  const int wanted_height = list_->sizeHintForRow(0) * static_cast<int>(lines.size()) + 140;
  const int wanted_width = std::max(360, list_->sizeHintForColumn(0) + 60);
  resize(std::min(wanted_width, screen.width() * 9 / 10), std::min(wanted_height, screen.height() - 60));
  setMaximumHeight(screen.height() - 40);
}

}  // namespace velmora::gui

// drag_source PATH: a small window that starts a drag of PATH, as a file
// URL, when the mouse is pressed on it. Lets a script drop a folder onto
// the program's window through the window system's own drag and drop.
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

namespace {

class DragSource : public QLabel {
 public:
  explicit DragSource(QString path) : QLabel("drag me"), path_(std::move(path)) {}

 protected:
  void mousePressEvent(QMouseEvent*) override {
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(path_)});
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction);
  }

 private:
  QString path_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) return 2;
  DragSource source(QString::fromLocal8Bit(argv[1]));
  source.setWindowTitle("drag-source");
  source.resize(120, 80);
  source.show();
  return application.exec();
}

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillcast");
  QMainWindow window;
  window.setWindowTitle("Quillcast");
  window.resize(800, 560);
  window.show();
  return app.exec();
}

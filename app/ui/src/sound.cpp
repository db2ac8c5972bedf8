#include "app/sound.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace qc {

bool PlayWaveAsync(const std::string& fileName) {
  const QString file = QString::fromStdString(fileName);
  if (file.isEmpty() || !QFileInfo(file).isFile()) return false;
  struct Player {
    const char* program;
    QStringList arguments;
  };
  const Player players[] = {{"pw-play", {}}, {"paplay", {}}, {"aplay", {"-q"}}};
  for (const Player& p : players) {
    const QString program = QStandardPaths::findExecutable(p.program);
    if (program.isEmpty()) continue;
    // Detached: the program never waits for the sound, and a player that
    // finds no device just ends.
    if (QProcess::startDetached(program, QStringList(p.arguments) << file)) return true;
  }
  return false;
}

}  // namespace qc

// charstack --export run as a build script runs it: the real program, without a display.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <sys/stat.h>

#include <functional>

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;

std::string solid(int w, int h, uint32_t argb) {
  return *encodePng(*makeImage(w, h, std::vector<uint32_t>(static_cast<size_t>(w * h), argb)));
}

struct Outcome {
  int status;
  QString out, err;
};

Outcome charstack(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  process.setProcessEnvironment(env);
  // The tests' program lies in build/tests, the editor's in build/src.
  const auto program = ProjectFolder::executableFolder().parent_path() / "src" / "charstack";
  process.start(QString::fromStdString(program.string()), arguments);
  EXPECT_TRUE(process.waitForFinished(20000)) << program;
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLatin1(process.readAllStandardOutput()),  // byte for byte
          QString::fromLatin1(process.readAllStandardError())};
}

QString path(const TempFolder& dir, const char* sub = "") {
  return QString::fromLatin1((dir.path() / sub).string());
}

struct CommandLine : ::testing::Test {
  // hero: a green layer beneath its red picture, a blue one over it, a hidden one; "a/b" draws only a
  // layer; empty draws nothing.
  CommandLine() {
    project.write("data.txt",
                  "hero,100, 10, 10\n####\nunder,50,1, 8, 8\nover,200,1, 12, 12\nhidden,300,0, 0, 0\n$$$$\n"
                  "a/b,100, 0, 0\n####\nmark,1,1, 3, 4\n$$$$\nempty,100, 0, 0\n");
    project.write("img/hero1", solid(4, 4, 0xFFFF0000));
    project.write("img/under2", solid(4, 4, 0xFF00FF00));
    project.write("img/over3", solid(3, 3, 0x800000FF));
    project.write("img/hidden4", solid(40, 40, 0xFFFFFFFF));
    project.write("img/mark6", solid(1, 1, 0xFF123456));
  }
  TempFolder project, out;
};

TEST_F(CommandLine, ExportsOnePicturePerCharacterWithoutTouchingTheProject) {
  const auto before = testing::filesOf(project);
  const Outcome run = charstack({"--export", path(out, "pictures"), path(project)});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, path(out, "pictures/hero1.png") + "\n" + path(out, "pictures/a_b5.png") + "\n");
  EXPECT_TRUE(run.err.contains("\"empty\" has nothing to draw")) << run.err.toStdString();
  EXPECT_EQ(out.list("pictures"), (std::vector<std::string>{"a_b5.png", "hero1.png"}));
  EXPECT_EQ(testing::filesOf(project), before);

  // Cropped to the drawn images (8,8)-(15,15), in depth order, straight alpha, transparent elsewhere.
  const ImageRef hero = decodeImageData(out.read("pictures/hero1.png"));
  ASSERT_TRUE(hero);
  ASSERT_EQ(hero->pixelWidth(), 7);
  ASSERT_EQ(hero->pixelHeight(), 7);
  const struct {
    int x, y;
    uint32_t argb;
  } pixels[] = {{0, 0, 0xFF00FF00}, {3, 3, 0xFFFF0000}, {6, 0, 0},
                {0, 6, 0},          {5, 5, 0xFF7F0080}, {6, 6, 0x800000FF}};
  for (const auto& p : pixels) EXPECT_EQ(hero->pixel(p.x, p.y), p.argb) << p.x << "," << p.y;
  const ImageRef mark = decodeImageData(out.read("pictures/a_b5.png"));
  ASSERT_TRUE(mark);
  EXPECT_EQ(mark->pixel(0, 0), 0xFF123456u);

  // The same project gives the same bytes.
  const std::string first = out.read("pictures/hero1.png");
  EXPECT_EQ(charstack({"--export", path(out, "pictures"), path(project)}).status, 0);
  EXPECT_EQ(out.read("pictures/hero1.png"), first);
}

TEST_F(CommandLine, ExitStatusesTellWhatWentWrong) {
  out.write("in-the-way", "a file where the folder should go");
  const struct {
    QStringList arguments;
    int status;
  } cases[] = {
      {{"--export"}, 2},
      {{"--export", path(out), path(project), path(project)}, 2},
      {{"--export", path(out), "--frobnicate", path(project)}, 2},
      {{"--export", path(project, "img"), path(project)}, 2},
      {{"--export", path(out), path(out, "no-such-project")}, 1},
      {{"--export", path(out, "in-the-way"), path(project)}, 1},
      {{"--help"}, 0},
      {{"--version"}, 0},
      {{"--export", path(out), "--scale", "0", path(project)}, 2},
      {{"--export", path(out), "--scale", "9", path(project)}, 2},
      {{"--export", path(out), "--scale", "x", path(project)}, 2},
      {{"--export", path(out), "--sheet", "", path(project)}, 2},
      {{"--export", path(out), "--sheet", "a/b", path(project)}, 2},
      {{"--scale", "2", path(project, "no-such-project")}, 2},  // without --export
      {{"--export", path(out, "big"), "--scale", "8", "--trim", "--no-numbers", "--sheet", "s", path(project)}, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(charstack(c.arguments).status, c.status) << c.arguments.join(' ').toStdString();
  const QString help = charstack({"--help"}).out;
  for (const char* option : {"--scale <n>", "--trim", "--no-numbers", "--sheet <name>"})
    EXPECT_TRUE(help.contains(option)) << option;

  // A picture the editor cannot read would leave a layer out: the export says so and fails.
  project.write("img/over3", "not a picture");
  const Outcome run = charstack({"--export", path(out, "pictures"), path(project)});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.contains("img/over3")) << run.err.toStdString();
}

// A sprite sheet of the trimmed pictures at twice their size, and files named without numbers where
// two characters have one name.
TEST_F(CommandLine, WritesASpriteSheetAndUniqueNamesWithoutNumbers) {
  const Outcome run =
      charstack({"--export", path(out), "--sheet", "atlas", "--scale", "2", "--trim", "--no-numbers", path(project)});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, path(out, "atlas.png") + "\n" + path(out, "atlas.json") + "\n");
  const ImageRef sheet = decodeImageData(out.read("atlas.png"));
  ASSERT_TRUE(sheet);
  // hero is 7x7, a/b 1x1: twice that, the taller first; the second does not fit beside it on a shelf
  // as wide as the square root of their area with padding (17).
  EXPECT_EQ(sheet->pixelWidth(), 14);
  EXPECT_EQ(sheet->pixelHeight(), 14 + 2 + 2);
  EXPECT_EQ(sheet->pixel(1, 1), 0xFF00FF00u);
  EXPECT_EQ(sheet->pixel(1, 17), 0xFF123456u);
  const QString json = QString::fromStdString(out.read("atlas.json"));
  EXPECT_TRUE(json.contains("\"a_b.png\": {")) << json.toStdString();
  EXPECT_TRUE(json.contains("\"hero.png\": {")) << json.toStdString();

  project.write("data.txt", "x,1, 0, 0\nx,2, 0, 0\n");
  project.write("img/x1", solid(1, 1, 0xFF0000FF));
  project.write("img/x2", solid(1, 1, 0xFFFF0000));
  const Outcome files = charstack({"--export", path(out, "files"), "--no-numbers", path(project)});
  EXPECT_EQ(files.status, 0) << files.err.toStdString();
  EXPECT_EQ(files.out, path(out, "files/x.png") + "\n" + path(out, "files/x (2).png") + "\n");
  EXPECT_TRUE(files.err.contains("character 2 \"x\" is named x (2).png")) << files.err.toStdString();
  EXPECT_EQ(decodeImageData(out.read("files/x (2).png"))->pixel(0, 0), 0xFFFF0000u);
}

// What a killed export left is removed by the next one into the same folder (only regular files of
// exactly that name form, never through a link); an img/ that is no folder fails the export; names
// that are not UTF-8 are printed as their bytes.
TEST_F(CommandLine, CleansUpAfterAKilledExportRefusesAnUnreadableImgAndPrintsNamesAsBytes) {
  out.write("pictures/.charstack-abcde1234.tmp", "not that form");
  const std::string leftover = ".charstack-" + ProjectFolder(out.path() / "pictures").token() + "-abcde12345.tmp";
  out.write("pictures/" + leftover, "left by a killed export");
  out.write("elsewhere", "kept");
  std::filesystem::create_symlink(out.path() / "elsewhere", out.path() / "pictures/.charstack-linkto1234.tmp");
  project.write("data.txt", "caf\xE9,100, 0, 0\n");
  project.write("img/caf\xE9" "1", solid(2, 2, 0xFF0000FF));
  const Outcome run = charstack({"--export", path(out, "pictures"), path(project)});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, path(out, "pictures/caf\xE9" "1.png") + "\n");
  EXPECT_TRUE(run.err.contains("removed 1 temporary file(s)")) << run.err.toStdString();
  EXPECT_EQ(out.list("pictures"), (std::vector<std::string>{".charstack-abcde1234.tmp", ".charstack-linkto1234.tmp",
                                                            "caf\xE9" "1.png"}));
  EXPECT_EQ(out.read("elsewhere"), "kept");

  const struct {
    const char* what;
    std::function<void()> make;
  } broken[] = {{"a named pipe (FIFO)", [&] { ::mkfifo((project.path() / "img").c_str(), 0600); }},
                {"a file", [&] { project.write("img", "not a folder"); }}};
  for (const auto& b : broken) {
    std::filesystem::remove_all(project.path() / "img");
    b.make();
    const Outcome refused = charstack({"--export", path(out, "again"), path(project)});
    EXPECT_EQ(refused.status, 1) << b.what;
    EXPECT_TRUE(refused.err.contains(path(project, "img") + " cannot be read: it is " + b.what))
        << refused.err.toStdString();
  }
}

}  // namespace
}  // namespace charstack

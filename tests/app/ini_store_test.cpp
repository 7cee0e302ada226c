#include "app/ini_store.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_util.h"

namespace velmora {
namespace {

std::string Text(const std::string& path) {
  const auto b = test::ReadFile(path);
  return std::string(b.begin(), b.end());
}

TEST(IniFileTest, ProfileSemantics) {
  test::TempDir dir;
  const std::string path = dir / "x.ini";
  test::WriteText(path,
                  "; a comment\r\n[Format]\r\nBMP = 1\r\njpg=\"0\"\r\nodd line\r\n[Other]\r\nn=12abc\r\nm=abc\r\n");
  IniFile ini(path);
  EXPECT_TRUE(ini.ReadBool("format", "bmp", false));
  EXPECT_FALSE(ini.ReadBool("FORMAT", "jpg", true));
  EXPECT_EQ(ini.ReadInteger("Other", "n", 5), 12);
  EXPECT_EQ(ini.ReadInteger("Other", "m", 5), 5);
  EXPECT_EQ(ini.ReadString("Other", "missing", "def"), "def");
  ini.WriteBool("Format", "png", true);
  ini.WriteString("format", "bmp", "0");
  ini.WriteString("New", "k", "v");
  ini.Flush();
  EXPECT_EQ(Text(path),
            "; a comment\r\n[Format]\r\nbmp=0\r\njpg=\"0\"\r\nodd "
            "line\r\npng=1\r\n[Other]\r\nn=12abc\r\nm=abc\r\n\r\n[New]\r\nk=v\r\n");
}

TEST(IniFileTest, CreatedOnFirstWriteOnly) {
  test::TempDir dir;
  const std::string path = dir / "sub/new.ini";
  IniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("a", "b", 7), 7);
  ini.Flush();
  EXPECT_FALSE(ini.Exists());
  ini.WriteInteger("a", "b", -3);
  ini.Flush();
  EXPECT_EQ(Text(path), "[a]\r\nb=-3\r\n");
}

TEST(SettingsFileTest, NameFollowsTheProgramFile) {
  EXPECT_EQ(SettingsFileName("/opt/VELMORA.EXE"), "Velmora.ini");
  EXPECT_EQ(SettingsFileName("/usr/bin/velmora"), "Velmora.ini");
  EXPECT_EQ(SettingsFileName("/x/1tool.bin"), "1tool.ini");
}

TEST(SettingsFileTest, BesideTheProgramOnlyWhereTheProgramIsTheUsers) {
  // Installed: the configuration folder, even for root, who could write /usr/bin.
  EXPECT_EQ(SettingsFilePath("/usr/bin/velmora"), platform::ConfigFolder() + "Velmora.ini");
  EXPECT_EQ(SettingsFilePath("/usr/local/bin/velmora"), platform::ConfigFolder() + "Velmora.ini");
  EXPECT_EQ(SettingsFilePath("/opt/velmora/velmora"), platform::ConfigFolder() + "Velmora.ini");
  EXPECT_EQ(SettingsFilePath("/srv/root/usr/bin/velmora"), platform::ConfigFolder() + "Velmora.ini");
  // A copy in a folder of the user's own: beside it, as always.
  test::TempDir dir;
  EXPECT_EQ(SettingsFilePath(dir / "velmora"), dir / "Velmora.ini");
}

TEST(SettingsFileTest, DefaultsWhenFileIsMissing) {
  test::TempDir dir;
  IniStore store;
  store.FileName = dir / "Velmora.ini";
  Settings s;
  s.S_folder_n = "/prog/";
  LoadMainSettings(store, s);
  LoadDialogSettings(store, s);
  EXPECT_EQ(s.C_PixelColor, 1);
  EXPECT_EQ(s.O_icosize, 1);
  EXPECT_EQ(s.O_quality_c, 5);
  EXPECT_EQ(s.O_quality_t, 5);
  EXPECT_EQ(s.O_gsize, 0);
  EXPECT_EQ(s.C_delay, "30");
  EXPECT_FALSE(s.C_bmp || s.C_tif || s.A_dialog || s.V_over);
  EXPECT_TRUE(s.S_sourcefile);
  EXPECT_EQ(s.S_folder_n, "/prog/");
  EXPECT_EQ(s.pos_x, 235);
  EXPECT_EQ(s.size_y, 334);
}

TEST(SettingsFileTest, RoundTripInKeyOrder) {
  test::TempDir dir;
  Settings s;
  s.C_png = s.C_tif = true;
  s.C_PixelColor = 2;
  s.O_gsize = 7;
  s.O_quality_c = s.O_quality_t = 9;
  s.C_delay = "12";
  s.S_sourcefile = false;
  s.S_folder = true;
  s.S_folder_n = "/out/";
  s.V_adds = s.A_clip = true;
  s.C_jxl = s.C_lossless = s.keep_alpha = s.V_metadata = true;
  s.size_fit = "800x600";
  {
    IniStore store;
    store.FileName = dir / "Velmora.ini";
    SaveMainSettings(store, s);
    SaveDialogSettings(store, s);
  }
  EXPECT_EQ(Text(dir / "Velmora.ini"),
            "[Window]\r\nPos.X=235\r\nPos.Y=288\r\nSize.XSize=374\r\nSize.YSize=334\r\nWindow_State=Normal\r\n\r\n"
            "[Format]\r\nbmp=0\r\njpg=0\r\npng=1\r\nmag=0\r\ngif=0\r\nico=0\r\npdf=0\r\ntif=1\r\nwebp=0\r\navif=0\r\njxl=1\r\n\r\n"
            "[Effect]\r\nPanel=0\r\nTrans=0\r\nMultipdf=0\r\nanimegif=0\r\nPixelColor=2\r\ndelay=12\r\n\r\n"
            "[Option]\r\nPanel=0\r\nquality=9\r\nicosize=1\r\ngsize=7\r\n\r\n"
            "[Extra]\r\nPanel=0\r\nlossless=1\r\nkeep_profile=0\r\nkeep_alpha=1\r\nstrip_location=0\r\nsize=800x600\r\n"
            "long_edge=0\r\nenlarge=0\r\nfit=contain\r\nrotate=0\r\nflip=\r\nrename=\r\nkeep_metadata=1\r\n\r\n"
            "[Config_Save]\r\nsourcefile=0\r\napp=0\r\nfolder=1\r\nfolder_n=/out/\r\n\r\n"
            "[Config_Active]\r\ndialog=0\r\nfront=0\r\nsend=0\r\nclip=1\r\ndelete=0\r\n\r\n"
            "[Config_Conv]\r\nover=0\r\nadds=1\r\nolddate=0\r\ntransparent=0\r\n");
  IniStore store;
  store.FileName = dir / "Velmora.ini";
  Settings back;
  LoadMainSettings(store, back);
  LoadDialogSettings(store, back);
  EXPECT_TRUE(back.C_png && back.C_tif && !back.C_bmp && back.C_jxl && !back.C_webp && back.C_lossless);
  EXPECT_TRUE(back.keep_alpha && back.V_metadata && !back.keep_profile);
  // [Config_Conv] keeps exactly its own keys: a metadata tick an older
  // version saved there is read once and moves to [Extra].
  test::WriteText(dir / "Old.ini", "[Config_Conv]\r\nover=1\r\nmetadata=1\r\n");
  IniStore old;
  old.FileName = dir / "Old.ini";
  Settings moved;
  LoadDialogSettings(old, moved);
  EXPECT_TRUE(moved.V_metadata);
  SaveDialogSettings(old, moved);
  const std::string migrated = Text(dir / "Old.ini");
  EXPECT_EQ(migrated.find("\r\nmetadata="), std::string::npos) << migrated;
  EXPECT_NE(migrated.find("[Extra]\r\nkeep_metadata=1\r\n"), std::string::npos) << migrated;
  EXPECT_EQ(back.size_fit, "800x600");
  EXPECT_EQ(back.C_PixelColor, 2);
  EXPECT_EQ(back.O_gsize, 7);
  EXPECT_EQ(back.O_quality_t, 9);
  EXPECT_TRUE(back.S_folder && !back.S_sourcefile && !back.S_app);
  EXPECT_EQ(back.S_folder_n, "/out/");
  EXPECT_TRUE(back.V_adds && back.A_clip);
  EXPECT_EQ(back.window_state, "Normal");
}

TEST(SettingsFileTest, HandEditedValues) {
  test::TempDir dir;
  test::WriteText(dir / "Velmora.ini",
                  "[Window]\nWindow_State=Min\nPos.X=1\nSize.XSize=2\n[Format]\npdf=1\n"
                  "[Effect]\nPixelColor=9\ndelay=3a0\n[Option]\nquality=15\nicosize=-1\ngsize=x\n");
  IniStore store;
  store.FileName = dir / "Velmora.ini";
  Settings s;
  LoadMainSettings(store, s);
  EXPECT_EQ(s.pos_x, 235) << "Min restores neither position nor size";
  EXPECT_EQ(s.size_x, 374);
  EXPECT_TRUE(s.C_pdf);
  EXPECT_FALSE(s.C_tif);
  EXPECT_EQ(s.C_PixelColor, -1) << "an index outside the list selects nothing";
  EXPECT_EQ(s.C_delay, "3a0");
  EXPECT_EQ(s.O_quality_c, -1);
  EXPECT_EQ(s.O_quality_t, 9) << "the track bar clamps";
  EXPECT_EQ(s.O_icosize, 1) << "an icon size the list cannot show falls back to 32";
  EXPECT_EQ(s.O_gsize, 0) << "an unreadable number gives the default";
}

TEST(IniStoreTest, FencesAndPairs) {
  test::TempDir dir;
  IniStore store;
  store.FileName = dir / "f.ini";
  store.fence = IniStore::Fence::fnParenthesis;
  store.WriteString("s", "k", "value");
  store.WritePosition("s", "Pos", 10, 20);
  store.WriteSize("s", "Size", 30, 40);
  EXPECT_EQ(store.ReadString("s", "k", ""), "value");
  EXPECT_EQ(store.File().ReadString("s", "k", ""), "\xEF\xBD\xA2value\xEF\xBD\xA3");
  EXPECT_EQ(store.ReadString("s", "none", "d"), "d");
  int x = 0, y = 0, w = 0, h = 0;
  store.ReadPosition("s", "Pos", x, y);
  store.ReadSize("s", "Size", w, h);
  EXPECT_EQ(std::make_tuple(x, y, w, h), std::make_tuple(10, 20, 30, 40));
  store.fence = IniStore::Fence::fnDoubleQuote;
  store.WriteString("s", "q", "a b");
  EXPECT_EQ(store.ReadString("s", "q", ""), "a b");
}

}  // namespace
}  // namespace velmora

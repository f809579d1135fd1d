#include "console/vrini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "console/VrCrt.h"
#include "platform/paths.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

class Ini : public ::testing::Test {
 protected:
  void SetUp() override { setIniLegacy(false); }
  void TearDown() override { setIniLegacy(true); }
  TempConfigHome config;
};

TEST_F(Ini, WriteThenReadInTheFamilyDirectory) {
  EXPECT_EQ(iniRead("KALIMBRO", "MILI_ECO"), "");
  iniWrite("KALIMBRO", "MILI_ECO", "300");
  EXPECT_EQ(iniRead("kalimbro", "mili_eco"), "300");
  EXPECT_EQ(config.readFamilyIni(), "[KALIMBRO]\nMILI_ECO=300\n");
  EXPECT_EQ(familyIniDirectory(), config.familyDirectory());
}

TEST_F(Ini, WhatAKilledWriteLeftBesideTheFileGoesAndNothingElse) {
  iniWrite("KALIMBRO", "MILI_ECO", "300");
  std::string left;
  {
    // A new version whose writer died: its descriptors are closed.
    HiddenSibling killed = createHiddenSibling(config.familyIniFile());
    ASSERT_FALSE(killed.name.empty());
    left = killed.name;
  }
  const std::string usersOwn = config.familyDirectory() + "/.Varelu.ini.copia";
  std::ofstream(usersOwn) << "x";
  removeIniLeftovers();
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(usersOwn));
  EXPECT_EQ(iniRead("KALIMBRO", "MILI_ECO"), "300");
}

TEST_F(Ini, PathSubstitutions) {
  config.writeFamilyIni(
      "[VARELU]\nPGMVARELU=/opt/varelu\n"
      "[T]\n"
      "SELF=@\n"
      "NOTSELF=@x\n"
      "SETTINGS=@@/som\n"
      "PROGRAM=@/letras\n"
      "BOTH=@/a;@@/b;@/c\n"
      "TRIPLE=@@@/d\n");
  EXPECT_EQ(iniRead("T", "SELF"), programDirectory());
  EXPECT_EQ(iniRead("T", "NOTSELF"), "@x");
  EXPECT_EQ(iniRead("T", "SETTINGS"), config.familyDirectory() + "/som");
  EXPECT_EQ(iniRead("T", "PROGRAM"), "/opt/varelu/letras");
  EXPECT_EQ(iniRead("T", "BOTH"),
            "/opt/varelu/a;" + config.familyDirectory() + "/b;/opt/varelu/c");
  EXPECT_EQ(iniRead("T", "TRIPLE"), "@" + config.familyDirectory() + "/d");
}

TEST_F(Ini, WithoutAFamilyProgramDirectoryTheProgramsOwnIsUsed) {
  config.writeFamilyIni("[T]\nPROGRAM=@/letras\n");
  EXPECT_EQ(iniRead("T", "PROGRAM"), programDirectory() + "/letras");
}

TEST_F(Ini, AFamilyProgramDirectoryNamingItselfStillEnds) {
  config.writeFamilyIni("[VARELU]\nPGMVARELU=@/varelu\n[T]\nPROGRAM=@/letras\n");
  EXPECT_EQ(iniRead("VARELU", "PGMVARELU"), programDirectory() + "/varelu");
  EXPECT_EQ(iniRead("T", "PROGRAM"), programDirectory() + "/letras");

  config.writeFamilyIni("[VARELU]\nPGMVARELU=/x@/y\n[T]\nPROGRAM=@/letras\n");
  EXPECT_EQ(iniRead("VARELU", "PGMVARELU"), "/x/x@/y/y");
  EXPECT_EQ(iniRead("T", "PROGRAM"), "/x@/y/letras");
}

}  // namespace
}  // namespace kalimbro

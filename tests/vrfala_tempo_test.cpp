#include "console/vrfala_tempo.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace kalimbro {
namespace {

using Sounds = std::vector<std::string>;

TEST(SpokenClock, TheHourIsFeminineAndTheMinutesMasculine) {
  EXPECT_EQ(timeSounds(1, 0), (Sounds{"_uma", "_hora"}));
  EXPECT_EQ(timeSounds(0, 30), (Sounds{"_zero", "_hora", "_trinta", "_minutos"}));
  EXPECT_EQ(timeSounds(2, 1), (Sounds{"_duas", "_horas", "_um", "_minuto"}));
  EXPECT_EQ(timeSounds(21, 2), (Sounds{"_vinte", "_e", "_uma", "_horas", "_dois", "_minutos"}));
  EXPECT_EQ(timeSounds(17, 16), (Sounds{"_dezeset", "_horas", "_dezesse", "_minutos"}));
}

TEST(SpokenClock, TheDateSaysWeekdayDayMonthAndYear) {
  EXPECT_EQ(dateSounds(2024, 3, 1, 5), (Sounds{"_Sexta", "_primeir", "_de", "_Marco", "_de",
                                               "_dois", "_mil", "_e", "_vinte", "_e", "_quatro"}));
  // Month names are cut to seven letters; 2000 has no "e".
  EXPECT_EQ(dateSounds(2000, 9, 17, 0),
            (Sounds{"_Domingo", "_dezeset", "_de", "_Setembr", "_de", "_dois", "_mil"}));
  EXPECT_EQ(dateSounds(1999, 12, 31, 6), (Sounds{"_Sabado", "_trinta", "_e", "_um", "_de",
                                                 "_Dezembr", "_de", "_noventa", "_e", "_nove"}));
}

class PowerSupply : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        std::filesystem::temp_directory_path().string() + "/kalimbro_power_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void write(const std::string& supply, const std::string& file, const std::string& text) {
    std::filesystem::create_directories(dir / supply);
    std::ofstream(dir / supply / file) << text << "\n";
  }
  std::filesystem::path dir;
};

TEST_F(PowerSupply, NoSuppliesMeansNoBattery) {
  const BatteryState state = readBatteryState(dir.string());
  EXPECT_FALSE(state.hasBattery);
  EXPECT_FALSE(state.offMains);
  EXPECT_FALSE(readBatteryState((dir / "missing").string()).hasBattery);
}

TEST_F(PowerSupply, BatteryChargeAndMains) {
  write("BAT0", "type", "Battery");
  write("BAT0", "capacity", "80");
  write("BAT0", "status", "Charging");
  write("AC", "type", "Mains");
  write("AC", "online", "1");
  BatteryState state = readBatteryState(dir.string());
  EXPECT_TRUE(state.hasBattery);
  EXPECT_EQ(state.percent, 80);
  EXPECT_FALSE(state.offMains);

  write("AC", "online", "0");
  EXPECT_TRUE(readBatteryState(dir.string()).offMains);
}

TEST_F(PowerSupply, ChargeFromCountersAndWithoutAMainsEntry) {
  write("BAT1", "type", "Battery");
  write("BAT1", "energy_now", "30000");
  write("BAT1", "energy_full", "40000");
  write("BAT1", "status", "Discharging");
  write("hid-mouse", "type", "Battery");  // no charge figure: not counted
  const BatteryState state = readBatteryState(dir.string());
  EXPECT_TRUE(state.hasBattery);
  EXPECT_EQ(state.percent, 75);
  EXPECT_TRUE(state.offMains);
}

}  // namespace
}  // namespace kalimbro

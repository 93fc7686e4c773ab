// The settings file's text: values read as typed, and writes that change
// only the lines of changed keys.
#include "line/SettingsText.h"

#include <gtest/gtest.h>

using namespace quorvex;

TEST(SettingsText, ValuesReadAsTypedAndAWriteTouchesOnlyWhatChanged)
{
    const QByteArray original = "; head comment\r\n"
                                "[Bilancia]\r\n"
                                "Marca = BILANCIAI ; inline\r\n"
                                "Settaggio=9600,N,8,1\r\n"
                                "Porta=\"1\"\r\n"
                                "\r\n"
                                "; the counter\r\n"
                                "[Contametri]\r\n"
                                "Divisore=0,5\r\n"
                                "Vecchia=x\r\n";
    const auto values = parseSettingsText(original);
    ASSERT_TRUE(values);
    EXPECT_EQ(values->value("Bilancia/Marca").toString(), "BILANCIAI");
    EXPECT_EQ(values->value("Bilancia/Settaggio").toString(), "9600,N,8,1");
    EXPECT_EQ(values->value("Bilancia/Porta").toString(), "1");
    EXPECT_EQ(values->value("Contametri/Divisore").toString(), "0,5");

    SettingsValues wanted = *values;
    wanted["Bilancia/Porta"] = "2"; // changed: its line only
    wanted.remove("Contametri/Vecchia"); // removed: its line goes
    wanted["Bilancia/Modello"] = "D400"; // new: end of its group
    wanted["Impianto/Server"] = " a;b \"c\""; // new group: end of file, quoted
    const QByteArray merged = mergeSettingsText(original, wanted);
    EXPECT_EQ(merged.toStdString(),
              "; head comment\r\n"
              "[Bilancia]\r\n"
              "Marca = BILANCIAI ; inline\r\n"
              "Settaggio=9600,N,8,1\r\n"
              "Porta=2\r\n"
              "Modello=D400\r\n"
              "\r\n"
              "; the counter\r\n"
              "[Contametri]\r\n"
              "Divisore=0,5\r\n"
              "\r\n"
              "[Impianto]\r\n"
              "Server=\" a;b \\\"c\\\"\"\r\n");
    EXPECT_EQ(parseSettingsText(merged), wanted);
    EXPECT_EQ(mergeSettingsText(merged, wanted), merged) << "an unchanged write changed the text";

    QString why;
    EXPECT_FALSE(parseSettingsText(QByteArray("[\0B\0]\0", 6), &why));
    EXPECT_TRUE(why.contains("NUL")) << why.toStdString();
    EXPECT_FALSE(parseSettingsText("a=\xff\xfe", &why));
}

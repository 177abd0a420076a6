#include "platform/SchemaValidator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "platform/GovUtils.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

namespace fs = std::filesystem;

std::string Schemas() { return test::SchemasFolder(); }

std::string ConsStatServ(const std::string& tpAmb, const std::string& rootAttributes = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"" +
         rootAttributes + ">\n<tpAmb>" + tpAmb + "</tpAmb><cUF>35</cUF><xServ>STATUS</xServ>" +
         "</consStatServ>";
}

std::string WithSchemaLocation(const std::string& location) {
  return ConsStatServ("2",
                      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xsi:schemaLocation=\"" +
                          location + "\"");
}

// What xmllint, which we did not write, says of the same document and schema.
bool XmllintAccepts(const std::string& xml, const std::string& xsd) {
  return test::SchemaError(xml, xsd).empty();
}

TEST(SchemaValidator, OfficialConsStatServ) {
  QOR_NEEDS_SCHEMAS();
  const std::string xsd = Schemas() + "/consStatServ_v4.00.xsd";
  std::vector<std::string> errors = {"stale"};
  EXPECT_TRUE(SchemaValidator::Validate(ConsStatServ("2"), xsd, errors));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(XmllintAccepts(ConsStatServ("2"), xsd));

  EXPECT_FALSE(SchemaValidator::Validate(ConsStatServ("3"), xsd, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("line 3: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("tpAmb"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].back(), '\n');
  EXPECT_FALSE(XmllintAccepts(ConsStatServ("3"), xsd));

  EXPECT_FALSE(SchemaValidator::Validate("<consStatServ>", xsd, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("line 1: ", 0), 0u) << errors[0];

  const std::string missing = test::MessageOf<EqorGovException>([&] {
    SchemaValidator::Validate(ConsStatServ("2"), Schemas() + "/naoExiste_v9.xsd", errors);
  });
  EXPECT_NE(missing.find("naoExiste_v9.xsd"), std::string::npos) << missing;
}

TEST(SchemaValidator, ByDirectoryUsesOnlyAFileNameOfTheFolder) {
  QOR_NEEDS_SCHEMAS();
  std::vector<std::string> errors;
  EXPECT_TRUE(SchemaValidator::ValidateByDirectory(
      WithSchemaLocation("http://www.portalfiscal.inf.br/nfe consStatServ_v4.00.xsd"), Schemas(),
      errors));
  EXPECT_TRUE(SchemaValidator::ValidateByDirectory(WithSchemaLocation("consStatServ_v4.00.xsd"),
                                                   Schemas(), errors));
  EXPECT_FALSE(SchemaValidator::ValidateByDirectory(
      ConsStatServ("9",
                   " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                   "xsi:schemaLocation=\"consStatServ_v4.00.xsd\""),
      Schemas(), errors));
  EXPECT_FALSE(errors.empty());

  for (const char* refused : {"../x.xsd", "http://www.portalfiscal.inf.br/nfe ../x.xsd",
                              "/etc/x.xsd", "sub\\x.xsd", ".."}) {
    SCOPED_TRACE(refused);
    const std::string message = test::MessageOf<EqorGovException>([&] {
      SchemaValidator::ValidateByDirectory(WithSchemaLocation(refused), Schemas(), errors);
    });
    EXPECT_NE(message.find("recusado"), std::string::npos) << message;
  }
  EXPECT_THROW(SchemaValidator::ValidateByDirectory(ConsStatServ("2"), Schemas(), errors),
               EqorGovException);  // names no schema
  EXPECT_THROW(SchemaValidator::ValidateByDirectory(WithSchemaLocation("ausente_v1.00.xsd"),
                                                    Schemas(), errors),
               EqorGovException);
}

const char* kIntSchema =
    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
    "<xs:include schemaLocation=\"types.xsd\"/><xs:element name=\"v\" type=\"T\"/></xs:schema>";

std::string Types(int max) {
  return "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:simpleType name=\"T\">"
         "<xs:restriction base=\"xs:int\"><xs:maxInclusive value=\"" +
         std::to_string(max) + "\"/></xs:restriction></xs:simpleType></xs:schema>";
}

void Touch(const std::string& path, int secondsLater) {
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(secondsLater));
}

TEST(SchemaValidator, CacheFollowsTheFilesItWasCompiledFrom) {
  test::TempDir dir;
  const std::string xsd = dir / "main.xsd";
  test::WriteFile(xsd, kIntSchema);
  test::WriteFile(dir / "types.xsd", Types(7));
  std::vector<std::string> errors;
  EXPECT_TRUE(SchemaValidator::Validate("<v>5</v>", xsd, errors));

  // Same size and modification time: the compiled schema is reused, the new text is not read.
  const auto stamp = fs::last_write_time(dir / "types.xsd");
  test::WriteFile(dir / "types.xsd", Types(3));
  fs::last_write_time(dir / "types.xsd", stamp);
  EXPECT_TRUE(SchemaValidator::Validate("<v>5</v>", xsd, errors));

  // A changed modification time of an included file brings a new compilation.
  Touch(dir / "types.xsd", 5);
  EXPECT_FALSE(SchemaValidator::Validate("<v>5</v>", xsd, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<v>3</v>", xsd, errors));

  // And so does one of the schema file itself.
  test::WriteFile(
      xsd, std::string(kIntSchema).replace(std::string(kIntSchema).find("\"v\""), 3, "\"w\""));
  Touch(xsd, 10);
  EXPECT_FALSE(SchemaValidator::Validate("<v>3</v>", xsd, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<w>3</w>", xsd, errors));

  SchemaValidator::ClearCache();
  EXPECT_TRUE(SchemaValidator::Validate("<w>1</w>", xsd, errors));
}

TEST(SchemaValidator, APathThatLeadsToAnotherFileIsCompiledAgain) {
  test::TempDir dir;
  test::WriteFile(dir / "types.xsd", Types(9));
  test::WriteFile(dir / "v.xsd", kIntSchema);
  test::WriteFile(
      dir / "w.xsd",
      std::string(kIntSchema).replace(std::string(kIntSchema).find("\"v\""), 3, "\"w\""));
  const std::string link = dir / "atual.xsd";
  fs::create_symlink(dir / "v.xsd", link);
  std::vector<std::string> errors;
  EXPECT_TRUE(SchemaValidator::Validate("<v>5</v>", link, errors));

  // Neither schema file changed: only the link now leads to the other one.
  fs::remove(link);
  fs::create_symlink(dir / "w.xsd", link);
  EXPECT_FALSE(SchemaValidator::Validate("<v>5</v>", link, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<w>5</w>", link, errors));
}

TEST(SchemaValidator, ValidationReadsNothingOutsideTheText) {
  test::TempDir dir;
  test::WriteFile(dir / "types.xsd", Types(9));
  const std::string xsd = dir / "main.xsd";
  test::WriteFile(xsd, kIntSchema);
  test::WriteFile(dir / "segredo.txt", "SEGREDO-123");
  const std::string xml =
      "<!DOCTYPE v [<!ENTITY s SYSTEM \"file://" + dir.path() + "segredo.txt\">]><v>&s;</v>";
  std::vector<std::string> errors;
  SchemaValidator::Validate(xml, xsd, errors);
  for (const std::string& error : errors) {
    EXPECT_EQ(error.find("SEGREDO"), std::string::npos) << error;
  }
  // A value of the document itself does reach the messages.
  EXPECT_FALSE(SchemaValidator::Validate("<v>VALOR-456</v>", xsd, errors));
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors[0].find("VALOR-456"), std::string::npos) << errors[0];
}

TEST(SchemaValidator, IncludesStayInsideTheSchemaFolder) {
  test::TempDir dir;
  fs::create_directories(dir / "pkg");
  test::WriteFile(dir / "outside.xsd", Types(7));
  const std::vector<std::string> locations = {"../outside.xsd", dir / "outside.xsd",
                                              "file://" + dir.path() + "outside.xsd",
                                              "http://127.0.0.1:9/types.xsd"};
  for (const std::string& location : locations) {
    std::string schema = kIntSchema;
    schema.replace(schema.find("types.xsd"), 9, location);
    test::WriteFile(dir / "pkg/main.xsd", schema);
    Touch(dir / "pkg/main.xsd", 1);
    std::vector<std::string> errors;
    SCOPED_TRACE(location);
    const std::string message = test::MessageOf<EqorGovException>(
        [&] { SchemaValidator::Validate("<v>1</v>", dir / "pkg/main.xsd", errors); });
    EXPECT_NE(message.find("recusado"), std::string::npos) << message;
  }
  // A symbolic link inside the folder that points outside it is refused as well.
  fs::create_symlink(dir / "outside.xsd", dir / "pkg/types.xsd");
  test::WriteFile(dir / "pkg/main.xsd", kIntSchema);
  Touch(dir / "pkg/main.xsd", 2);
  std::vector<std::string> errors;
  EXPECT_THROW(SchemaValidator::Validate("<v>1</v>", dir / "pkg/main.xsd", errors),
               EqorGovException);
}

TEST(SchemaValidator, ConcurrentValidationsShareOneSchema) {
  test::TempDir dir;
  test::WriteFile(dir / "main.xsd", kIntSchema);
  test::WriteFile(dir / "types.xsd", Types(50));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        std::vector<std::string> errors;
        int value = (t * 40 + i) % 100;
        bool valid = SchemaValidator::Validate("<v>" + std::to_string(value) + "</v>",
                                               dir / "main.xsd", errors);
        if (valid != (value <= 50) || valid != errors.empty()) ++wrong;
        if (t == 0 && i % 10 == 0) SchemaValidator::ClearCache();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(GovUtils, ValidationRaisesOnInvalidAndKeepsTheReport) {
  QOR_NEEDS_SCHEMAS();
  TqorGovUtils utils;
  const std::string xsd = Schemas() + "/consStatServ_v4.00.xsd";
  EXPECT_TRUE(utils.ValidateSchema(ConsStatServ("1"), xsd));
  EXPECT_TRUE(utils.Get_ValidatorErrors().Empty());
  const std::string invalid =
      test::MessageOf<EqorGovException>([&] { utils.ValidateSchema(ConsStatServ("3"), xsd); });
  EXPECT_NE(invalid.find("tpAmb"), std::string::npos) << invalid;
  ASSERT_EQ(utils.Get_ValidatorErrors().Count(), 1u);
  EXPECT_EQ(utils.Get_ValidatorErrors()[0].rfind("line 3: ", 0), 0u);

  EXPECT_TRUE(
      utils.ValidateSchemaByDirectory(WithSchemaLocation("consStatServ_v4.00.xsd"), Schemas()));
  EXPECT_TRUE(utils.Get_ValidatorErrors().Empty());
  EXPECT_THROW(utils.ValidateSchemaByDirectory(WithSchemaLocation("../x.xsd"), Schemas()),
               EqorGovException);
  ASSERT_EQ(utils.Get_ValidatorErrors().Count(), 1u);
  EXPECT_NE(utils.Get_ValidatorErrors()[0].find("../x.xsd"), std::string::npos);
}

}  // namespace
}  // namespace qor

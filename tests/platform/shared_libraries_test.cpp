// The libraries opened on first use: each table calls the real library the system has (its
// version as the library's own tools report it), and a library or function that is not there
// is a failure that names it, not a crash on a null pointer.
#include "platform/SharedLibraries.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/CurlApi.h"
#include "platform/GovException.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using ::testing::HasSubstr;

// The first line of `command`'s output, or "" when it fails.
std::string FirstLine(const std::string& command) {
  std::string output;
  if (test::RunCommand(command, &output) != 0) return "";
  return output.substr(0, output.find('\n'));
}

TEST(SharedLibraries, TablesCallTheSystemsLibrariesAndAbsencesAreNamed) {
  // libcurl through the client's table: the version curl(1) reports for the library it uses.
  const std::string curl = FirstLine("curl --version");
  ASSERT_THAT(curl, HasSubstr("libcurl/")) << "curl(1) is one of the tests' tools";
  EXPECT_THAT(curl, HasSubstr(std::string("libcurl/") +
                              CurlApi().curl_version_info(CURLVERSION_NOW)->version + " "));

  // A function found in the second of several libraries: pango's version beside cairo.
  const SharedLibraries pango({"libcairo.so.2", "libpango-1.0.so.0"});
  const char* (*pangoVersion)() = nullptr;
  pango.Resolve(pangoVersion, "pango_version_string");
  EXPECT_EQ(pangoVersion(), FirstLine("pkg-config --modversion pango"));

  struct Falta {
    std::string biblioteca, funcao, mensagem;
  };
  for (const Falta& caso : {
           Falta{"libqornfce-inexistente.so.7", "",
                 "Não foi possível carregar a biblioteca libqornfce-inexistente.so.7: "},
           Falta{"libcurl.so.4", "curl_funcao_inexistente",
                 "Função curl_funcao_inexistente não encontrada nas bibliotecas carregadas: "},
       }) {
    SCOPED_TRACE(caso.biblioteca + " " + caso.funcao);
    try {
      const SharedLibraries libraries({caso.biblioteca.c_str()});
      void (*funcao)() = nullptr;
      libraries.Resolve(funcao, caso.funcao.c_str());
      ADD_FAILURE() << "no exception";
    } catch (const EqorGovException& e) {
      EXPECT_THAT(e.what(), ::testing::StartsWith(caso.mensagem));
    }
  }
}

}  // namespace
}  // namespace qor

// The configuration file of the component ("nfceConfig.ini"): where it is found, how values
// that a line of an INI file cannot hold are written, and how the protected keys are stored.
// The keys themselves are catalogued beside the component whose properties they load
// (core/ChavesConfiguracao.h).
//
// Thread-safe: pure functions over the objects given.
#pragma once

#include <string>

namespace qor {

class TIniFile;

// "nfceConfig.ini".
std::string RetornaNomeArquivoConfig();

// The configuration file for `name` (the program folder is the executable's):
// 1. empty: program folder + "nfceConfig.ini";
// 2. an existing file: that file;
// 3. an existing folder: that folder + "nfceConfig.ini";
// 4. otherwise: program folder + the file part of `name` when that file exists there, else
//    program folder + "nfceConfig.ini".
// A backslash in `name` is a separator.
std::string GetINIFilePath(const std::string& name);

// Free text. A value with a line break, with blanks at either end, or starting with the marker
// "base64:" is written as "base64:" + its Base64 (UTF-8 bytes): an INI line ends at the break and
// its reader trims blanks, so written plainly the value would come back changed, or (for a break)
// let the rest of the value be read as other keys. Every other value is written as it is, so
// files written by hand or elsewhere read as before. Reading undoes the marker; a marked value
// that is not Base64 throws EqorGovException naming the key.
std::string LerTextoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                        const std::string& padrao);
void GravarTextoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                    const std::string& valor);

// Protected secrets (PinCode, TokenNFCe, IdTokenNFCe): Encrypt/Decrypt of the installation key
// (platform/SecretBox.h). An empty value is written empty and an absent or empty one reads as
// `padrao` without touching the key file. A damaged value, or one protected under another
// installation's key, throws EqorGovException naming the key (never the secret).
std::string LerProtegidoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                            const std::string& padrao);
void GravarProtegidoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                        const std::string& valor);

// Passwords and the CSRT (SenhaCertificado, the proxy's Senha, CSRT, MAIL.Senha): written as
// "enc:" + the protected value (Encrypt), an empty value empty. A value without the marker is
// read as free text (LerTextoIni), so files written before, by hand or elsewhere still load; a
// marked value that does not decrypt throws EqorGovException naming the key.
std::string LerSegredoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                          const std::string& padrao);
void GravarSegredoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                      const std::string& valor);

}  // namespace qor

// Fuzz targets: each body takes arbitrary bytes, hands them to one reader of outside text (the
// shop's TX2, a state's reply, a log file, an INI file, a key, a note) and returns 0.
//
// A refusal with an exception of the family (EqorException) or of the services layer
// (EqorGovException) is a normal answer to bad text. Anything else is a fault the fuzzer
// reports: another exception leaving the body, a crash, a sanitizer finding, or a failed
// consistency check (which prints what failed and aborts).
//
// Whatever a body writes (exception logs, the input as a log file) stays in one scratch folder
// made for the process and removed when it ends; no body touches the network. The component a
// body needs is set up once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qor::fuzz {

int FuzzConverterLote(const uint8_t* data, size_t size);  // ConverterLoteParaXml (TX2)
int FuzzRespostaSoap(const uint8_t* data, size_t size);   // DesenveloparSoap, cStat, nRec, protNFe
int FuzzBuscaLogs(const uint8_t* data, size_t size);      // the log search over a log file
int FuzzIniFile(const uint8_t* data, size_t size);        // the INI reader
int FuzzStringParse(const uint8_t* data, size_t size);    // TqorStringParse and text helpers
int FuzzDecodeChave(const uint8_t* data, size_t size);    // DecodeChave, the key's check digit
int FuzzLinkQRCode(const uint8_t* data, size_t size);     // the QR-code link of a note
int FuzzRespostaIntegrador(const uint8_t* data, size_t size);  // PegaRespostaSefazIntegrador
int FuzzXmlParaDataSet(const uint8_t* data, size_t size);      // the XML-to-dataset reader
int FuzzDadosDanfce(const uint8_t* data, size_t size);         // the DANFCE data of a note

struct Alvo {
  const char* nome;  // the folder of its corpus, tests/fuzz/corpus/<nome>
  int (*corpo)(const uint8_t*, size_t);
};

// Every target, for the replay test and the fuzzing script.
std::span<const Alvo> Alvos();

// How many of the operations the targets ran (in this process) were answered without a refusal.
unsigned long Respondidas();

}  // namespace qor::fuzz

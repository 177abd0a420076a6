#include "templates/AmostraLote.h"

#include "templates/TemplateParts.h"

namespace qor::tpl {

namespace {

// Access key of the sample note: cUF 35, AAMM 2401, CNPJ 11222333000181, mod 55, serie 001,
// nNF 000000001, tpEmis 1, cNF 12345678, check digit 8 (modulo 11). The ide group below carries
// the same values, so a check of the key against the note passes.
constexpr std::string_view kChave = "35240111222333000181550010000000011123456788";

constexpr std::string_view kIdeEmitDest =
    "<ide><cUF>35</cUF><cNF>12345678</cNF><natOp>VENDA DE MERCADORIA</natOp><mod>55</mod>"
    "<serie>1</serie><nNF>1</nNF><dhEmi>2024-01-15T10:30:00-03:00</dhEmi><tpNF>1</tpNF>"
    "<idDest>1</idDest><cMunFG>3550308</cMunFG><tpImp>1</tpImp><tpEmis>1</tpEmis><cDV>8</cDV>"
    "<tpAmb>2</tpAmb><finNFe>1</finNFe><indFinal>1</indFinal><indPres>1</indPres>"
    "<procEmi>0</procEmi><verProc>1.0.0.0</verProc></ide>"
    "<emit><CNPJ>11222333000181</CNPJ><xNome>EMPRESA FICTICIA DE TESTES LTDA</xNome>"
    "<xFant>LOJA FICTICIA</xFant><enderEmit><xLgr>RUA DAS AMOSTRAS</xLgr><nro>100</nro>"
    "<xBairro>CENTRO</xBairro><cMun>3550308</cMun><xMun>SAO PAULO</xMun><UF>SP</UF>"
    "<CEP>01001000</CEP><cPais>1058</cPais><xPais>BRASIL</xPais><fone>1133334444</fone>"
    "</enderEmit><IE>111222333444</IE><CRT>3</CRT></emit>"
    "<dest><CNPJ>11444777000161</CNPJ>"
    "<xNome>NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL</xNome><enderDest>"
    "<xLgr>AVENIDA DOS EXEMPLOS</xLgr><nro>200</nro><xBairro>JARDIM</xBairro>"
    "<cMun>3550308</cMun><xMun>SAO PAULO</xMun><UF>SP</UF><CEP>01310100</CEP>"
    "<cPais>1058</cPais><xPais>BRASIL</xPais></enderDest><indIEDest>9</indIEDest></dest>";

// One unit at 10.00: ICMS 18 (1.80), PIS 1.65 (0.17), COFINS 7.60 (0.76); the totals below add
// up to the same figures.
constexpr std::string_view kItem =
    "<det nItem=\"1\"><prod><cProd>0001</cProd><cEAN>SEM GTIN</cEAN>"
    "<xProd>PRODUTO DE AMOSTRA</xProd><NCM>21069090</NCM><CFOP>5102</CFOP><uCom>UN</uCom>"
    "<qCom>1.0000</qCom><vUnCom>10.00</vUnCom><vProd>10.00</vProd><cEANTrib>SEM GTIN</cEANTrib>"
    "<uTrib>UN</uTrib><qTrib>1.0000</qTrib><vUnTrib>10.00</vUnTrib><indTot>1</indTot></prod>"
    "<imposto><ICMS><ICMS00><orig>0</orig><CST>00</CST><modBC>3</modBC><vBC>10.00</vBC>"
    "<pICMS>18.00</pICMS><vICMS>1.80</vICMS></ICMS00></ICMS><PIS><PISAliq><CST>01</CST>"
    "<vBC>10.00</vBC><pPIS>1.65</pPIS><vPIS>0.17</vPIS></PISAliq></PIS><COFINS><COFINSAliq>"
    "<CST>01</CST><vBC>10.00</vBC><pCOFINS>7.60</pCOFINS><vCOFINS>0.76</vCOFINS></COFINSAliq>"
    "</COFINS></imposto></det>";

constexpr std::string_view kTotalAteFim =
    "<total><ICMSTot><vBC>10.00</vBC><vICMS>1.80</vICMS><vICMSDeson>0.00</vICMSDeson>"
    "<vFCP>0.00</vFCP><vBCST>0.00</vBCST><vST>0.00</vST><vFCPST>0.00</vFCPST>"
    "<vFCPSTRet>0.00</vFCPSTRet><vProd>10.00</vProd><vFrete>0.00</vFrete><vSeg>0.00</vSeg>"
    "<vDesc>0.00</vDesc><vII>0.00</vII><vIPI>0.00</vIPI><vIPIDevol>0.00</vIPIDevol>"
    "<vPIS>0.17</vPIS><vCOFINS>0.76</vCOFINS><vOutro>0.00</vOutro><vNF>10.00</vNF></ICMSTot>"
    "</total><transp><modFrete>9</modFrete></transp><pag><detPag><tPag>01</tPag>"
    "<vPag>10.00</vPag></detPag></pag><infAdic>"
    "<infCpl>DOCUMENTO DE AMOSTRA PARA VALIDACAO DE ESQUEMA</infCpl></infAdic></infNFe>";

// Made-up Base64 of the sizes a real signature has: a 20-byte SHA-1 digest, a 256-byte RSA-2048
// signature value and a DER certificate.
constexpr std::string_view kDigestValue = "1JOTcOPq4q3fcyTvh2TyF4M5UUU=";
constexpr std::string_view kSignatureValue =
    "P0azvLt2dMvm8xlOCquAo4oEWNwlhQRdUt3cQ9alcnmYtWO9ApshiZPoUkNDLo3cy78p0E1T+/iW9KmeTPMKLlyw"
    "EFmHbUOHlnufyk/VRo8v8opxcHTFh4NSca0El7ePUsjLMYgmjEbWBIu/aR2LhRVR/lHa9br6gG9COUj/ukr79lwa"
    "gX7hfy4vOxpniZcdUicWVxEVIKnSlkgMTOVsUnc71tvwhTM1OIk7H4rekguaw5UAP7Q97yffbCi8gfqX4SC1DR1X"
    "TiFrZch6b0+MhRTfr+aJY63iWeKTOS+yzubWzxGgrgkU0Fm+AZJNQ3H5D17DRJdVQYAyeyZ+Dzc7RQ==";
constexpr std::string_view kCertificado =
    "MIIDAP4cxYFcsA1sn4OUK1n10IjvZ2BgSfbSsGsWX/PVwzy/UH451W7NK/+0nLcWp3O+B47gKzhCC41/XePia97f"
    "R3vKJ7mXE03uWgNtH0bfgMO7zIz6DBiV6TMmViBv1owHdisFEfLEj3rIISuKLCI/ZsEbgICYNh+UGDLRMmpHT94U"
    "bGAWRwjMMTKFTRGcO5IKsQaUUzgic43YqpylMbybvfyaD3z0klIlIiCFtZMOEhaLSPDaGS9doG+4oj807RjBhr+F"
    "8fgpfRqDCA0S9FmnCPgBvEc+MMK+rQewtVsk+c8ToGUDupz+S+YDv/4nzQJXu4m46WjwGswph7pD73D4yhfPYgLG"
    "GcOI706v/3g2a6d3qVEAC0fTI6de7IOfvI4X/FjUpDQFm6Ac8uATS/v/BKgfJMMVjv/h5hZsSnq7E4gSRt5SFWf6"
    "Q7qNV7sCJ1wGKK0I2/GA2I7ohiM+barNRQddDSMrVS6KrIgq8QNUE87JUOr9F6QMMxqXKz2GGTGZJH8Ir4UGLqaB"
    "bk5YvPL4TkzqC/94DMR28pm0vLgf9gJzqvbJ7KufR6fbJAUUzcaRcEBxkXpHXSXuUpB++wTv32SoPWPnlzgspy/S"
    "bcT0zii57yyqIEME7CGKd+yQ8VD6FcR6/l9qRocGjpB8robKZn21sd7sv6IR8Eg3IFgIFb/c4V6NntzAY2irqdLG"
    "XtqSH55yLB22iWC1Uyv7SkvXpFSB9+PajVCst3M1MhHJu1WFNCuX7q6bG3mGIM1qQPoxteZ9cKL9STaGvdJ3XPbc"
    "nd+DBdqIBWw6YH6CECGfYsdtGxJ1xr5ILXI/JCJ5yJyGYDcXN4z9f2E07hJyKgCh34Oiahwj+APRVNXc1Vx1Dodp"
    "dfplhWyLaSOcubLp5i8x5I8+ei+DxIpzDfhdNIii2MmidVzKAEuUL1fw9lSr3F4MmtU1OMMe6lgocAeU+vG3M7yZ"
    "opnXajEKTy01+A4tdVgVw8cIoMZtYiZ4q7OkZcgfOL/+8isuttKFB9q7I3BsYA==";

std::string Abertura(std::string_view versao, bool indSinc) {
  const std::string ns = Xmlns("", kNFeNs);
  return "<enviNFe" + ns + " versao=\"" + std::string(versao) + "\"><idLote>001</idLote>" +
         (indSinc ? "<indSinc>0</indSinc>" : "") + "<NFe" + ns + ">";
}

std::string Assinatura() {
  const std::string c14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
  const std::string dsig(kDSigNs);
  return "<Signature" + Xmlns("", kDSigNs) + "><SignedInfo><CanonicalizationMethod Algorithm=\"" +
         c14n + "\"/><SignatureMethod Algorithm=\"" + dsig + "rsa-sha1\"/><Reference URI=\"#NFe" +
         std::string(kChave) + "\"><Transforms><Transform Algorithm=\"" + dsig +
         "enveloped-signature\"/><Transform Algorithm=\"" + c14n +
         "\"/></Transforms><DigestMethod Algorithm=\"" + dsig + "sha1\"/><DigestValue>" +
         std::string(kDigestValue) + "</DigestValue></Reference></SignedInfo><SignatureValue>" +
         std::string(kSignatureValue) + "</SignatureValue><KeyInfo><X509Data><X509Certificate>" +
         std::string(kCertificado) + "</X509Certificate></X509Data></KeyInfo></Signature>";
}

std::string Fechamento() { return Assinatura() + "</NFe></enviNFe>"; }

}  // namespace

std::string AmostraValidaCabecalho(std::string_view versao, bool indSinc) {
  return Abertura(versao, indSinc) + "<infNFe versao=\"" + std::string(versao) + "\" Id=\"NFe" +
         std::string(kChave) + "\">" + std::string(kIdeEmitDest) + "%s" +
         std::string(kTotalAteFim) + Fechamento();
}

std::string_view AmostraItem() { return kItem; }

std::string AmostraValidaItemCabec(std::string_view versao, bool indSinc) {
  return Abertura(versao, indSinc) + "%s" + Fechamento();
}

}  // namespace qor::tpl

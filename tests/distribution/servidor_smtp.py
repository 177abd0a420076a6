"""SMTP server of the e-mail tests, on aiosmtpd.

Messages land in the Maildir CAIXA/new (envelope in X-MailFrom and X-RcptTo). Prints
"PRONTO <port>" once it accepts connections and serves until it is killed.
"""
import argparse
import asyncio
import ssl
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import AuthResult

warnings.simplefilter("ignore")

parser = argparse.ArgumentParser()
parser.add_argument("--porta", type=int, required=True)
parser.add_argument("--caixa", required=True)
parser.add_argument("--cert")  # with --chave: STARTTLS, or implicit TLS with --smtps
parser.add_argument("--chave")
parser.add_argument("--smtps", action="store_true")
parser.add_argument("--usuario")  # with --senha: the one login AUTH accepts
parser.add_argument("--senha")
parser.add_argument("--diario")  # file each AUTH attempt is journaled to
parser.add_argument("--auth-sem-tls", action="store_true")  # allow AUTH in clear
parser.add_argument("--recusar")  # RCPT of this address gets 550
parser.add_argument("--demora", type=float, default=0)  # seconds DATA sleeps before answering
parser.add_argument("--recusar-dados", action="store_true")  # DATA answered 554
args = parser.parse_args()


class Caixa(Mailbox):
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if args.recusar and address.lower() == args.recusar.lower():
            return "550 5.1.1 Destinatario recusado"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if args.recusar_dados:
            return "554 5.7.1 Mensagem recusada pela politica do servidor"
        if args.demora:
            await asyncio.sleep(args.demora)
            return "451 4.3.0 Tarde demais"
        return await super().handle_DATA(server, session, envelope)


def autenticador(server, session, envelope, mechanism, auth_data):
    login = auth_data.login.decode() if auth_data.login else ""
    if args.diario:
        with open(args.diario, "a") as diario:
            diario.write(f"AUTH {mechanism} {login}\n")  # never the password
    ok = login == args.usuario and (auth_data.password or b"").decode() == args.senha
    return AuthResult(success=ok, handled=False)  # handled=True would leave 535 unsent


contexto = None
if args.cert:
    # A context that also works client side: the controller's readiness check uses it.
    contexto = ssl.SSLContext(ssl.PROTOCOL_TLS)
    contexto.check_hostname = False
    contexto.verify_mode = ssl.CERT_NONE
    contexto.load_cert_chain(args.cert, args.chave)

opcoes = {}
if args.usuario is not None:
    opcoes["authenticator"] = autenticador
    # On SMTPS the whole session is TLS, but aiosmtpd only counts STARTTLS as such.
    opcoes["auth_require_tls"] = not (args.auth_sem_tls or args.smtps)
if contexto is not None:
    if args.smtps:
        opcoes["ssl_context"] = contexto
    else:
        opcoes["tls_context"] = contexto

controller = Controller(Caixa(args.caixa), hostname="127.0.0.1", port=args.porta, **opcoes)
controller.start()
print("PRONTO", args.porta, flush=True)
threading.Event().wait()

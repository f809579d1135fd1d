// klMsg: the message catalogue. One table of every fixed text the program
// says, keyed by "KL..." names; commands reach it through sayMessage, and
// forms and lists take bare texts from messageText.
#include "app/klMsg.h"

#include <algorithm>
#include <iterator>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

// Texts are Windows-1252 with their trailing blanks; a question keeps its
// blank so the echoed answer follows it on the same line. A literal is split
// where a hex escape is followed by a hex digit ("r\xE1" "dio"). The texts
// are kept exactly as the program has always said them, slips included
// (KLNDIV's "N\xE2o", KLPONFIN's double blank).
constexpr MessageRow kCatalogue[] = {
    {"KLINIC", "Gravador de Som Varelu"},
    {"KLINIGRV", "Tecle Enter para gravar, ESC termina"},
    {"KLRADTLF", "Qualidade CD, r\xE1" "dio ou telefone? "},
    {"KLSTMONO", "Est\xE9reo ou Mono? "},
    {"KLESPTOC", "Use espa\xE7o para tocar, F1 ajuda"},
    {"KLAJTOC1", "Espa\xE7o toca e para, esc termina"},
    {"KLAJTOC2", "Posicione com direita, esquerda, home e end."},
    // The keys jump one second; the help says so.
    {"KLAJTOC3", "Page Up e Page Down saltam 1 segundo"},
    {"KLAJTOC4", "M memoriza o ponto do cursor"},
    {"KLAJTOC5", "V volta ao ponto memorizado"},
    {"KLNOMARQ", "Informe o nome do arquivo"},
    {"KLNOMNAR", "Informe o novo nome do arquivo: "},
    {"KLCRGSOM", "Carregando som"},
    {"KLARQERR", "Arquivo incompat\xEDvel com este programa"},
    {"KLECO", "Eco adicionado"},
    {"KLREV", "Reverbera\xE7\xE3o adicionada"},
    {"KLVOLAUM", "Aumentei o volume em 25 por cento"},
    {"KLVOLDIM", "Diminu\xED o volume em 25 por cento"},
    {"KLSOMINV", "Som virado de tr\xE1s para diante"},
    {"KLREMANT", "Trecho anterior removido"},
    {"KLREMPOS", "Trecho posterior removido"},
    {"KLDESTRU", "Ok, toda grava\xE7\xE3o foi removida."},
    {"KLTRCREM", "Trecho removido"},
    {"KLUNDO", "Retornei ao \xFAltimo som gravado"},
    {"KLNOVSOM", "Novo som criado"},
    {"KLOPMG", "Gravador, qual sua op\xE7\xE3o? "},
    {"KLOPEF", "Qual efeito? "},
    {"KLOPINV", "Op\xE7\xE3o inv\xE1lida, F1 ajuda"},
    {"KLQUERSV", "Quer salvar o arquivo? "},
    {"KLERRGRV", "Erro de grava\xE7\xE3o"},
    {"KLNOMMIS", "Qual o arquivo de som a misturar? "},
    {"KLMISTUR", "Sons misturados"},
    {"KLOK", "Ok"},
    {"KLFIM", "Fim do programa"},
    {"KLCNFUND", "Vou recuperar a \xFAltima vers\xE3o salva, confirma? "},
    {"KLINISOM", "In\xED" "cio do som"},
    {"KLFIMSOM", "Fim do som"},
    {"KLNOVO", "N - Novo som"},
    {"KLTOCA", "T - Toca"},
    {"KLGRAVA", "G - Grava mais"},
    {"KLREMOVE", "R - Remove"},
    {"KLMIXA", "M - Mistura"},
    {"KLEFEIT", "E - Efeito"},
    {"KLDESFAZ", "D - Desfaz"},
    {"KLSALVA", "S - Salva"},
    {"KLCONFIG", "C - Configura"},
    {"KLINFO", "I - Informa\xE7\xF5" "es"},
    {"KLTRAREM",
     "A - remove antes do cursor, D depois, T - tudo\r\n"
     "M remove entre cursor e ponto memorizado: "},
    {"KLADIFUN", "Adi\xE7\xE3o, Mistura ou Fundo sonoro? "},
    {"KLONDMST", "Mistura no in\xED" "cio, no cursor ou no final? "},
    {"KLCONFIM", "Confirma o fim do programa? "},
    {"KLMEMOR", "Posi\xE7\xE3o do cursor memorizada"},
    {"KLASOPC", "As op\xE7\xF5" "es s\xE3o :"},
    {"KLCONTGR", "Aperte enter para continuar grava\xE7\xE3o, ESC termina"},
    {"KLDESIST", "Desistiu..."},
    {"KLARQSLV", "OK, arquivo salvo"},
    {"KLDIGSEN", "Digite a senha com 8 caracteres: "},
    {"KLSENHAP", "Senha aplicada"},
    {"KLMANTOR", "Mantenho par\xE2metros originais da grava\xE7\xE3o? "},
    {"KLSALVAG", "J\xE1 posso armazenar em disco? "},
    {"KLCONF", "Configurando"},
    {"KLRESET", "Deseja retornar os valores padr\xF5" "es? "},
    {"KLMSECO", "Milissegundos do eco"},
    {"KLPERECO", "Percentual do eco"},
    {"KLMSREV", "Milissegundos do reverber"},
    {"KLPERREV", "Percentual do reverber"},
    {"KLCNVMP3", "Convers\xE3o MP3"},
    {"KLMP3OUT", "Par\xE2metros para gerar MP3"},
    {"KLMP3IN", "Par\xE2metros para ler MP3"},
    {"KLOKCONF", "OK configurado"},
    {"KLNAOMP3", "N\xE3o edito diretamente MP3"},
    {"KLMP3WAV", "Vou converter de MP3 para WAV, aguarde"},
    {"KLWAVMP3", "Vou converter de WAV para MP3, aguarde"},
    {"KLERRCNV", "Convers\xE3o MP3 foi mal sucedida"},
    {"KLTEMPOT", "Tempo total: "},
    {"KLPOSCUR", "posi\xE7\xE3o do cursor: "},
    {"KLPERCEN", "percentual: "},
    {"KLERPOSI", "Erro de posicionamento"},
    {"KLARQTRB", "Arquivo de trabalho: "},
    {"KLIVEL", "Velocidade: "},
    {"KLIQUALI", "Qualidade: "},
    {"KLI8BIT", "8 Bits "},
    {"KLI16BIT", "16 Bits "},
    {"KLIMONO", "Mono"},
    {"KLISTERE", "Stereo"},
    {"KLFALMEM", "N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"},
    {"KLNBUFT", "Buffers para tocar"},
    {"KLNBUFG", "Buffers para gravar"},
    {"KLFATORI", "Percentual do som original, sugiro 70:   "},
    {"KLFATMIS", "Percentual do som a misturar, sugiro 30: "},
    {"KLEXTRAI", "X - Extrai"},
    {"KLNOMDIV", "Informe o nome do arquivo original"},
    {"KLNDIV", "N\xE2o posso dividir arquivos MP3, apenas WAV"},
    {"KLDIVSEG", "Informe em segundos o tamanho dos trechos: "},
    {"KLINIDST", "Informe iniciais dos arquivos de destino"},
    {"KLARFDIV", "Arquivo foi dividido."},
    {"KLNPART", "N\xFAmero de partes: "},
    {"KLDIVPED", "Posso dividir em trechos iguais? "},
    {"KLPONINI", "Informe em segundos o ponto inicial: "},
    {"KLPONFIN", "Informe em segundos o ponto final  : "},
    {"KLINFDST", "Informe nome do arquivo de destino: "},
    {"KLARFEXT", "Trecho do arquivo foi extraido."},
    {"KLMAXMEM", "Mem\xF3ria em Mb (0=toda)"},
    {"KLDIGECO", "Deseja digitar os par\xE2metros?"},
    {"KLDIGHIGHPASS", "Intensidade 1, 2, 3 ou personalizado"},
    {"KLDIGHIGHPASS2", "Digite a frequencia de corte desejada, 1, 2 ou 3"},
    {"KLDIGLOWPASS", "Intensidade 1, 2, 3 ou personalizado?"},
    {"KLDIGLOWPASS2", "Digite a frequencia de corte desejada, 1, 2 ou 3"},
    {"KLDIGPHASER", "Deseja digitar os par\xE2metros?"},
    {"KLESCFIN", "Tecle ESC para finalizar"},
    {"KLVOLSOB", "+ - Aumenta volume"},
    {"KLVOLDES", "- - Diminui volume"},
    {"KLFADEIN", "I - Fade In"},
    {"KLFADEOU", "O - Fade Out"},
    {"KLOPECO", "E - Ecoa"},
    {"KLOPREV", "R - Reverbera"},
    {"KLOPSREV", "S - Super Reverber"},
    {"KLPITCH", "F - Alterar frequ\xEAncia"},
    {"KLSPEED", "V - Velocidade"},
    {"KL_BASS", "G - Graves"},
    {"KLTREBL", "A - Agudos"},
    {"KL_NORM", "N - Normaliza Volume"},
    {"KLOPCEQ", "Q - Equaliza\xE7\xE3o por faixas"},
    {"KLOPCXE", "X - Super Eco"},
    {"KLVOLTSO", "T - Inverte o som"},
    {"KLCODSEN", "P - Codifica com senha"},
    {"KLERRO_E", "N\xE3o foi possivel executar o Sox"},
    {"KLERRO_N", "Nenhum arquivo foi selecionado"},
    {"KLFIMEDI", "Fim da edi\xE7\xE3o"},
    {"KLREPMID", "Reproduzindo \xE1udio: "},
    {"KLSALVARA", "Deseja manter o efeito?(S/N)"},
    {"KLSIM", "Sim"},
    {"KLNAO", "N\xE3o"},
    {"KLNLVTXT", "Informe o nome do arquivo a salvar: "},
    {"KLSAIDAD", "Ser\xE1 salvo no diret\xF3rio atual"},
    {"KLDEMONS", "Demonstra\xE7\xE3o: "},
    {"KLPEGAVL", "Informe a velocidade: "},
    {"KLPEGAAF", "Informe o valor da afina\xE7\xE3o: "},
    {"KLPEGAAM", "Informe o valor da amplifica\xE7\xE3o (-20 a 20): "},
    {"KLAVISO1", "Aten\xE7\xE3o! Valores maiores que +20dB podem causar estouro no som."},
    {"KLCONTIN", "Deseja continuar(S/N)?"},
    {"KLASSUM0", "Valor inv\xE1lido, assumido zero"},
    {"KLECOATT", "Atributos do eco:"},
    {"KLECATT1", "Volume do eco(0 at\xE9 100):"},
    {"KLECATT2", "Atraso do eco(0 a 1000):"},
    {"KLECATT3", "Volume gradual do eco(0 at\xE9 100):"},
    {"KLFREQNC", "Varia\xE7\xF5" "es das frequ\xEAncias:"},
    {"KL40HZ", "   40Hz"},
    {"KL80HZ", "   80Hz"},
    {"KL240HZ", "  240Hz"},
    {"KL500HZ", "  500Hz"},
    {"KL1000HZ", " 1000Hz"},
    {"KL4100HZ", " 4100Hz"},
    {"KL8500HZ", " 8500Hz"},
    {"KL17000HZ", "17000Hz"},
    {"KLFADEOUT", "FadeOut adicionado"},
    {"KLFADEINA", "FadeIn adicionado"},
    // Said where a failure used to go unheard or unnamed.
    {"KLERRNOM", "Arquivo n\xE3o encontrado"},
    {"KLARQNAO", "Arquivo n\xE3o encontrado"},
    {"KLVALINV", "Valor inv\xE1lido, efeito n\xE3o aplicado"},
    {"KLNDESEF", "N\xE3o consegui desfazer o efeito"},
    {"KLTELPEQ", "Terminal menor que 80 por 25: a tela acompanha o cursor"},
    // SoX ran and gave nothing usable.
    {"KLSOXFAL", "O Sox falhou, o som continua como estava"},
    // Takes of a recording cut off by the end of the program.
    {"KLGRVINT", "Grava\xE7\xE3o interrompida de "},
    {"KLSEMNOM", "som sem nome"},
    {"KLGRVACR", "Acrescento ao fim deste som? "},
    {"KLGRVABR", "Abro este som? "},
    {"KLGRVGRD", "A grava\xE7\xE3o foi guardada em "},
    {"KLGRVFIC", "A grava\xE7\xE3o continua em "},
    // Where the WAV copy of an MP3 went, or where the edits stayed; a name follows.
    {"KLWAVANT", "O WAV antigo deste MP3 foi guardado como "},
    {"KLWAVNGU", "N\xE3o consegui guardar o WAV antigo deste MP3: "},
    {"KLALTARQ", "As altera\xE7\xF5" "es continuam no arquivo "},
    // Said when no private temporary directory could be made.
    {"KLSEMPTM", "N\xE3o consegui criar uma pasta tempor\xE1ria: efeitos do SoX e misturar MP3 ficam "
                 "desligados"},
    {"KLPRECPT", "Sem pasta tempor\xE1ria, este comando n\xE3o pode ser feito"},
    // Said when the sound devices cannot be opened or stop working.
    {"KLSOMNAO", "N\xE3o foi poss\xEDvel abrir o dispositivo de som"},
    {"KLSOMPAR", "O dispositivo de som parou de funcionar"},
    {"KLENTNAO", "N\xE3o foi poss\xEDvel abrir o dispositivo de entrada de som"},
    {"KLENTPAR", "O dispositivo de entrada de som parou de funcionar"},
    // Speech through the system's speech server, chosen in the configuration form.
    {"KLFALSRV", "Fala pelo speech-dispatcher"},
    {"KLHORAS", "Tempos em horas, minutos e segundos"},
    {"KLSRVFAL", "O speech-dispatcher n\xE3o respondeu, a fala segue pela voz do programa"},
    // Sound files of other kinds: what opening reduced, and ffmpeg's conversions.
    {"KLREDBIT", "Este som tem mais de 16 bits; ele \xE9 editado com 16 bits"},
    {"KLREDFLT", "Este som tem amostras de ponto flutuante; ele \xE9 editado com 16 bits"},
    {"KLREDCAN", "Este som tem mais de dois canais; ele \xE9 editado em est\xE9reo"},
    // Asked before such a file is written over: "O arquivo tem 8 canais; salvo em est\xE9reo? ".
    {"KLARQTEM", "O arquivo tem "},
    {"KLCANEST", " canais; salvo em est\xE9reo? "},
    // A file cut short, opened as far as it goes; the seconds and KLSEGUND follow.
    {"KLARQCUR", "O arquivo termina antes do esperado; abri "},
    // Said on saving a sound with markers in a kind of file without them.
    {"KLMARFOR", "Os marcadores n\xE3o s\xE3o guardados neste tipo de arquivo"},
    // Asked before a save writes over a file that is not the working file:
    // "O arquivo outro.flac j\xE1 existe. Substituo? ".
    {"KLARQEXI", "O arquivo "},
    {"KLSUBSTI", " j\xE1 existe. Substituo? "},
    {"KLCNVAGU", "Convertendo pelo ffmpeg, aguarde"},
    {"KLERRFFM", "A convers\xE3o pelo ffmpeg foi mal sucedida"},
    {"KLSEMFFM", "O programa ffmpeg n\xE3o foi encontrado; instale o pacote ffmpeg"},
    // Undo and redo (Control+Z, Control+Y): "Desfeito: remo\xE7\xE3o de 3,2 segundos".
    {"KLOPDESF", "Control+Z - Desfazer a \xFAltima mudan\xE7" "a"},
    {"KLOPREFA", "Control+Y - Refazer o que foi desfeito"},
    {"KLDESFEI", "Desfeito: "},
    {"KLREFEIT", "Refeito: "},
    {"KLHDE", " de "},
    {"KLSEGUND", " segundos"},
    {"KLNADESF", "Nada a desfazer"},
    {"KLNAREFA", "Nada a refazer"},
    {"KLHISSEM", "O hist\xF3rico de mudan\xE7" "as deste som n\xE3o est\xE1 dispon\xEDvel"},
    {"KLHISERR", "N\xE3o consegui ler o hist\xF3rico de mudan\xE7" "as; o som ficou como estava"},
    {"KLHISFAL", "N\xE3o consegui guardar esta mudan\xE7" "a no hist\xF3rico; as anteriores n\xE3o podem mais ser "
                 "desfeitas"},
    {"KLHISUSO", "Este som est\xE1 aberto em outro programa; aqui as mudan\xE7" "as n\xE3o poder\xE3o ser desfeitas "
                 "nem recuperadas"},
    {"KLHISCHE", "O hist\xF3rico de mudan\xE7" "as passou do limite de disco; salve com F2 para liberar espa\xE7o"},
    {"KLPREMOV", "remo\xE7\xE3o"},
    {"KLPMIXA", "mistura"},
    {"KLPEFEIT", "efeito"},
    {"KLPGRAVA", "grava\xE7\xE3o"},
    {"KLPVOLTA", "volta \xE0 vers\xE3o salva"},
    {"KLPMUDAN", "mudan\xE7" "a"},
    {"KLPCONV", "convers\xE3o"},
    // Changes a run left unsaved, found when the sound is opened again.
    {"KLRECACH", "H\xE1 mudan\xE7" "as n\xE3o salvas deste som, de "},
    {"KLRECPER", "Quer recuperar as mudan\xE7" "as? "},
    {"KLRECOK", "Mudan\xE7" "as recuperadas; Control+Z desfaz cada uma"},
    {"KLRECMUD", "O arquivo mudou depois delas, elas n\xE3o podem ser aplicadas"},
    {"KLRECERR", "N\xE3o consegui recuperar as mudan\xE7" "as; o som \xE9 o do arquivo"},
    {"KLRECGRD", "As mudan\xE7" "as n\xE3o salvas foram guardadas em "},
    {"KLRECFIC", "As mudan\xE7" "as n\xE3o salvas continuam em "},
    // Not every change came back: KLRECPAR, how many, KLHDE and of how many
    // (left out when a damaged end hides it), KLRECMDS, KLRECDAN when the
    // end was damaged, KLRECFAL and the folder.
    {"KLRECPAR", "Recuperei "},
    {"KLRECMDS", " mudan\xE7" "as"},
    {"KLRECDAN", ", mas o fim do hist\xF3rico estava danificado"},
    {"KLRECFAL", "; as que faltam foram guardadas em "},
    // The play command's levels (F7).
    {"KLAJTOC6", "F7 diz o pico, a sonoridade e os trechos saturados"},
    // "Pico -3,2 dB, sonoridade -19 LUFS, nenhum trecho saturado".
    {"KLNIVPIC", "Pico "},
    {"KLNIVSIL", "sil\xEAncio"},
    {"KLNIVDB", " dB"},
    {"KLNIVSON", ", sonoridade "},
    {"KLNIVLUF", " LUFS"},
    {"KLNIVIND", "indefinida"},
    {"KLNIVSEP", ", "},
    {"KLNIVNEN", "nenhum trecho saturado"},
    {"KLNIVUM", "um trecho saturado"},
    {"KLNIVTRS", " trechos saturados"},
    // The effects from the sound's levels.
    {"KLOPLOUD", "L - Normaliza sonoridade"},
    {"KLOPAPAR", "C - Corta sil\xEAncio do in\xED" "cio e do fim"},
    {"KLOPPAUS", "U - Encurta pausas longas"},
    {"KLLUFPER", "Sonoridade desejada em LUFS, Enter para -16: "},
    {"KLLUFINV", "Sonoridade inv\xE1lida; use um n\xFAmero de -70 a -5"},
    {"KLLUFIND", "N\xE3o \xE9 poss\xEDvel medir a sonoridade deste som"},
    // After the demonstration, "Sonoridade de -30,2 LUFS levada a -16,0
    // LUFS" (what the sound measures once worked), then, when peaks were
    // held down, "Picos limitados a -1 dB".
    {"KLLUFDE", "Sonoridade de "},
    {"KLLUFPAR", " LUFS levada a "},
    {"KLLUFSEM", " LUFS mudada; n\xE3o h\xE1 mem\xF3ria para medir o resultado"},
    {"KLLUFLIM", "Picos limitados a -1 dB"},
    {"KLSILNAO", "N\xE3o h\xE1 sil\xEAncio no in\xED" "cio nem no fim"},
    {"KLSILTOD", "O som \xE9 todo sil\xEAncio"},
    // "Sil\xEAncio removido: 1,2 segundos no in\xEDcio e 0,8 segundos no fim".
    {"KLSILREM", "Sil\xEAncio removido: "},
    {"KLSILNOI", " segundos no in\xED" "cio e "},
    {"KLSILNOF", " segundos no fim"},
    {"KLPAUPER", "Encurtar as pausas mais longas que quantos segundos? Enter para 1: "},
    {"KLPAUINV", "Dura\xE7\xE3o inv\xE1lida"},
    {"KLPAUNEN", "Nenhuma pausa \xE9 mais longa que isso"},
    // "Pausas encurtadas: 3, 4,5 segundos removidos".
    {"KLPAUENC", "Pausas encurtadas: "},
    {"KLPAUREM", " segundos removidos"},
    // The play command's jumps to pauses: "Pausa em 12:3, 1,5 segundos".
    {"KLAJTOC7", "Control+Page Down e Control+Page Up v\xE3o \xE0 pr\xF3xima pausa e \xE0 anterior"},
    {"KLPAUSEM", "Pausa em "},
    {"KLPAUNAD", "Nenhuma pausa adiante"},
    {"KLPAUNAT", "Nenhuma pausa antes do cursor"},
    // Markers in the play command: "Marcador 3 em 12:3", "Marcador 3 removido".
    // The play command's F5 and F6 in its help; the sound's length in I.
    {"KLAJTOCF", "F5 vai a um segundo digitado; F6 diz o tempo total e o do cursor"},
    {"KLIDURAC", "Dura\xE7\xE3o: "},
    // D in the play command: "Trecho de 3,2 segundos".
    {"KLAJTOCD", "D diz a dura\xE7\xE3o do trecho entre o ponto memorizado e o cursor"},
    {"KLTRECDE", "Trecho de "},
    {"KLAJTOC8", "Insert marca e Delete desmarca; Control+seta abaixo e acima v\xE3o aos marcadores"},
    {"KLMARCAD", "Marcador "},
    {"KLMAREM", " em "},
    {"KLMARREM", " removido"},
    {"KLMARNEN", "Nenhum marcador no cursor"},
    {"KLMARNAD", "Nenhum marcador adiante"},
    {"KLMARNAT", "Nenhum marcador antes do cursor"},
    // Naming the marker at the cursor: "Nome do marcador: Entrevista", then
    // "Marcador 3 em 12:3, Entrevista".
    {"KLAJTOC9", "N d\xE1 nome ao marcador do cursor"},
    {"KLMARNOM", "Nome do marcador: "},
    // F1 at a question: what its answers are. The question is then asked again.
    {"KLAJSIMN", "S responde sim, N responde n\xE3o, ESC desiste"},
    {"KLAJQUAL", "C qualidade de CD, R de r\xE1" "dio, T de telefone; ESC desiste"},
    {"KLAJQUAO", "C qualidade de CD, R r\xE1" "dio, T telefone, O a original do som; ESC desiste"},
    {"KLAJCANA", "E est\xE9reo, M mono; ESC desiste"},
    {"KLAJMANT", "S salva como est\xE1; N pede novo nome, qualidade e canais; ESC desiste"},
    {"KLAJRESE", "S p\xF5" "e os valores padr\xF5" "es no formul\xE1rio, N os de agora; ESC desiste"},
    {"KLAJMIST", "A acrescenta, M mistura por cima, F fundo sonoro com percentuais; ESC desiste"},
    {"KLAJONDE", "I no in\xED" "cio, C no cursor, F no final do som; ESC desiste"},
    {"KLAJREMO", "A antes do cursor, D depois, T tudo, M at\xE9 o ponto memorizado; ESC desiste"},
    {"KLAJNOME", "Digite o nome e Enter, ou seta abaixo para escolher na lista; ESC desiste"},
    {"KLAJLUFS", "De -70 a -5 LUFS: -16 para voz e podcast, -23 para r\xE1" "dio; ESC desiste"},
    {"KLAJGANH", "Em dB, de -20 a 20: positivo refor\xE7" "a, negativo atenua; Enter usa 0; ESC desiste"},
    {"KLAJAFIN", "Em cent\xE9simos de semitom: 100 sobe um semitom, -100 desce um; ESC desiste"},
    {"KLAJVELO", "1,2 toca 20 por cento mais r\xE1pido, 0,8 mais devagar; Enter usa 1,2; ESC desiste"},
    {"KLAJPERC", "Um percentual de 0 a 99; Enter usa o sugerido; ESC desiste"},
    {"KLAJPREF", "O come\xE7o do nome das partes: com voz, voz1.wav, voz2.wav...; ESC desiste"},
    {"KLAJSEGU", "Um n\xFAmero inteiro de segundos; ESC desiste"},
    {"KLAJNOMS", "Digite o nome do arquivo a salvar e Enter; ESC desiste"},
    {"KLAJPAUS", "Em segundos, por exemplo 0,5: as pausas mais longas ficam assim; ESC desiste"},
    {"KLAJFIM", "S termina o programa; outra tecla volta ao menu"},
    {"KLAJDIVI", "N extrai um trecho; ESC desiste; outra tecla divide em trechos iguais"},
    {"KLAJCONT", "S aplica esse ganho; outra tecla pede outro valor; ESC desiste"},
    {"KLAJMANE", "S ou Enter mant\xE9m o efeito; N ou ESC volta ao som de antes"},
    {"KLAJMARN", "Digite o nome e Enter; Enter sozinho deixa o nome como est\xE1; ESC desiste"},
    {"KLAJSENH", "A senha \xE9 um n\xFAmero; codificar de novo com a mesma senha desfaz; ESC desiste"},
    {"KLAJFORM", "Setas acima e abaixo passam de um campo a outro; ESC, Page Up ou Page Down terminam"},
    // Save as a lossy kind: "Taxa de bits em kb/s, Enter para 64: ".
    {"KLTAXPER", "Taxa de bits em kb/s, Enter para "},
    {"KLAJTAXA", "Mais kb/s, som melhor e arquivo maior; Enter aceita a proposta; ESC desiste"},
    {"KLAJGRAV", "Enter come\xE7" "a a gravar e ESC termina a grava\xE7\xE3o; ESC agora desiste"},
    {"KLAJCONG", "Enter grava mais no fim; Page Up ouve os \xFAltimos 10 segundos; ESC termina"},
    // "Este tipo de arquivo vai de 6 a 256 kb/s".
    {"KLTAXFOR", "Este tipo de arquivo vai de "},
    {"KLTAXATE", " a "},
    {"KLTAXKBS", " kb/s"},
    // Said before an effect's result is kept: "O resultado satura em 3 trechos".
    {"KLSATUM", "O resultado satura em um trecho"},
    {"KLSATPRE", "O resultado satura em "},
    {"KLSATTRS", " trechos"},
};

}  // namespace

std::span<const MessageRow> messageCatalogue() { return kCatalogue; }

std::string messageText(std::string_view key) {
  // Linear and case-sensitive; the first row with the key wins.
  for (const MessageRow& row : kCatalogue) {
    if (row.key == key) return std::string(row.text);
  }
  return "--> Mensagem inv\xE1lida: " + std::string(key);
}

void sayMessage(std::string_view key, int lineEnds) {
  const std::string text = messageText(key);
  if (lineEnds >= 0) {
    // A message whose first word would be cut at the right edge begins on
    // a line of its own.
    const size_t firstWord = std::min(text.find(' '), text.size());
    if (whereX() > 1 && whereX() + static_cast<int>(firstWord) - 1 > kScreenColumns) crtWriteln();
    crtWrite(text);
    for (int i = 0; i < lineEnds; ++i) crtWriteln();
  }
  // An unknown key may still have a recording of its own.
  if (soundExists(key)) {
    speakSound(key);
  } else {
    speak(text);
  }
  if (lineEnds > 0) sendSpokenLine();
}

uint8_t askKey(std::string_view questionKey, std::string_view helpKey) {
  for (;;) {
    sayMessage(questionKey, 0);
    uint8_t key = 0, ext = 0;
    // Other extended keys are no answer: the question waits on.
    while (key == 0 && ext != kF1) readKeyEchoed(key, ext);
    crtWriteln();
    if (key != 0) return key;
    sayMessage(helpKey, 1);
  }
}

void explainQuestion(std::string_view helpKey, std::string_view questionKey) {
  sayMessage(helpKey, 1);
  sayMessage(questionKey, 1);
}

void explainForm() { sayMessage("KLAJFORM", -1); }

uint8_t readAnswer(std::string_view questionKey, std::string_view helpKey, AnswerEcho echo) {
  for (;;) {
    uint8_t key = 0, ext = 32;
    if (echo == AnswerEcho::spoken) {
      key = readKeySpeak();
      if (key == 0) ext = readKey();
    } else {
      readKeyEchoed(key, ext);
    }
    if (key != 0) return key;
    if (ext != kF1) continue;
    if (whereX() > 1) crtWriteln();
    explainQuestion(helpKey, questionKey);
  }
}

std::optional<std::string> askValue(std::string_view questionKey, std::string_view helpKey, AnswerAt at,
                                    std::string_view shownDefault) {
  for (;;) {
    sayMessage(questionKey, 0);
    if (!shownDefault.empty()) writeSpeak(std::string(shownDefault) + ": ");
    if (at == AnswerAt::lineBelow) crtWriteln();
    std::string typed;
    switch (readLine(typed, true)) {
      case LineEnd::entered: return typed;
      case LineEnd::gaveUp: sayMessage("KLDESIST", 1); return std::nullopt;
      case LineEnd::help: sayMessage(helpKey, 1); break;
    }
  }
}

// ---- Menus --------------------------------------------------------------------

namespace {

void sayMenuHelp(const Menu& menu) {
  if (menu.menuSound) speakSound("KLMENU");
  textBackground(4);
  sayMessage("KLASOPC", menu.helpTitleLineEnds);
  textBackground(0);
  crtWriteln();
  for (const MenuOption& option : menu.options)
    if (option.inHelp) sayMessage(option.textKey, 1);
}

// The chosen option's key, or ESC.
uint8_t chooseFromList(const Menu& menu) {
  constexpr int kListColour = 5;
  int rows = 0;
  int width = menu.listWidth;
  for (const MenuOption& option : menu.options) {
    if (!option.listed) continue;
    ++rows;
    width = std::max(width, static_cast<int>(messageText(option.textKey).size()));
  }
  if (menu.menuSound) speakSound("KLMENU");
  reserveLines(rows);
  menuOpen(whereX(), whereY(), width, kListColour, rows);
  for (const MenuOption& option : menu.options)
    if (option.listed) menuAddItem(option.textKey, messageText(option.textKey));
  const int chosen = menuRun();
  int row = 0;
  for (const MenuOption& option : menu.options)
    if (option.listed && ++row == chosen) return option.key;
  return kEsc;
}

bool isOption(const Menu& menu, uint8_t key) {
  return std::any_of(menu.options.begin(), menu.options.end(),
                     [key](const MenuOption& option) { return option.key == key; });
}

}  // namespace

MenuKey askMenu(const Menu& menu) {
  for (;;) {
    flushKeyboard();
    if (menu.beforeQuestion) menu.beforeQuestion();
    textBackground(1);
    sayMessage(menu.questionKey, 0);
    textBackground(0);
    if (menu.whileWaiting) menu.whileWaiting();
    uint8_t key, ext;
    readKeyEchoed(key, ext);
    crtWriteln();
    if (key == 0) {
      if (ext == kF1) {
        sayMenuHelp(menu);
        continue;
      }
      if (ext != kUp && ext != kDown) return {0, ext};
      key = chooseFromList(menu);
    }
    key = upperAscii(key);
    if (key == kEsc || isOption(menu, key)) return {key, 0};
    sayMessage("KLOPINV", 2);
  }
}

}  // namespace kalimbro

// The built-in message catalogue and the choice of one of its tables from the
// process locale.
//
// Every text is UTF-8 whatever the codeset of the user's locale: the dialogs
// hand the texts to GTK, which takes UTF-8 only. Within a key, every language
// keeps the English placeholders in the same order (callers format with
// printf), and keeps the English blank runs and line breaks so that a dialog
// is laid out the same in every language.
#include "stringtable.h"

#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The option names are never translated; tables without a translated
// placeholder word show this line unchanged.
const char kUsageEnglish[] =
    "%s [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] "
    "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]";

}  // namespace

const STRING_ENTRY MsgTable_EN[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Cannot open INI file: %s\n"},
    {MSG_USAGE_TITLE, "Usage:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s version %s requires GTK %s or later to start, but it was not found "
     "on your system. Check the product documentation for software "
     "prerequisites to ensure your system meets the installation "
     "requirements."},
    {MSG_AGENT_NOT_FOUND,
     "Telvane Quorvin version %s or later cannot be found."},
    {MSG_INSTALLER_NOT_FOUND,
     "The installer for Telvane Quorvin cannot be found.  \n"
     "Installer Location=%s"},
    {MSG_INSTALL_FAILED,
     "The installer encountered an error when installing Telvane Quorvin.  "
     "Installation has discontinued. \nReturn Code=%d"},
    {MSG_AGENT_START_FAILED,
     "There is an error starting Telvane Quorvin.  Installation has "
     "discontinued. \nReturn Code=%d"},
    {MSG_ERROR_TITLE, "Error"},
    {MSG_MESSAGE_TITLE, "Message"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Telvane Quorvin version %s or later cannot be found.  Check the product "
     "documentation for software prerequisites to ensure that your system "
     "meets the installation requirements."},
};

const STRING_ENTRY MsgTable_DE[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Die INI-Datei kann nicht geöffnet werden: %s\n"},
    {MSG_USAGE_TITLE, "Verwendung:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s Version %s benötigt zum Starten GTK %s oder höher, diese Version "
     "wurde jedoch auf Ihrem System nicht gefunden. Prüfen Sie anhand der "
     "Produktdokumentation die Softwarevoraussetzungen, um sicherzustellen, "
     "dass Ihr System die Installationsvoraussetzungen erfüllt."},
    {MSG_AGENT_NOT_FOUND,
     "Telvane Quorvin Version %s oder höher wurde nicht gefunden."},
    {MSG_INSTALLER_NOT_FOUND,
     "Das Installationsprogramm für Telvane Quorvin wurde nicht gefunden.  \n"
     "Speicherort des Installationsprogramms=%s"},
    {MSG_INSTALL_FAILED,
     "Das Installationsprogramm hat bei der Installation von Telvane Quorvin "
     "einen Fehler festgestellt.  Die Installation wurde abgebrochen. \n"
     "Rückgabecode=%d"},
    {MSG_AGENT_START_FAILED,
     "Beim Starten von Telvane Quorvin ist ein Fehler aufgetreten.  Die "
     "Installation wurde abgebrochen. \nRückgabecode=%d"},
    {MSG_ERROR_TITLE, "Fehler"},
    {MSG_MESSAGE_TITLE, "Nachricht"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Telvane Quorvin Version %s oder höher wurde nicht gefunden.  Prüfen Sie "
     "anhand der Produktdokumentation die Softwarevoraussetzungen, um "
     "sicherzustellen, dass Ihr System die Installationsvoraussetzungen "
     "erfüllt."},
};

const STRING_ENTRY MsgTable_ES[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "No se puede abrir el archivo INI: %s\n"},
    {MSG_USAGE_TITLE, "Utilización:"},
    {MSG_USAGE,
     "%s [-h] [-input ARCHIVO_DE_ENTRADA] [-silent] [-licenseAccepted] "
     "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {MSG_GTK_REQUIRED,
     "%s versión %s requiere GTK %s o posterior para iniciarse, pero no se ha "
     "encontrado en el sistema. Consulte la documentación del producto para "
     "conocer los requisitos previos de software y asegurarse de que el "
     "sistema cumple los requisitos de instalación."},
    {MSG_AGENT_NOT_FOUND,
     "No se encuentra Telvane Quorvin versión %s o posterior."},
    {MSG_INSTALLER_NOT_FOUND,
     "No se encuentra el instalador de Telvane Quorvin.  \n"
     "Ubicación del instalador=%s"},
    {MSG_INSTALL_FAILED,
     "El instalador ha detectado un error al instalar Telvane Quorvin.  Se ha "
     "interrumpido la instalación. \nCódigo de retorno=%d"},
    {MSG_AGENT_START_FAILED,
     "Se ha producido un error al iniciar Telvane Quorvin.  Se ha "
     "interrumpido la instalación. \nCódigo de retorno=%d"},
    {MSG_ERROR_TITLE, "Error"},
    {MSG_MESSAGE_TITLE, "Mensaje"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "No se encuentra Telvane Quorvin versión %s o posterior.  Consulte la "
     "documentación del producto para conocer los requisitos previos de "
     "software y asegurarse de que el sistema cumple los requisitos de "
     "instalación."},
};

const STRING_ENTRY MsgTable_FR[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Impossible d'ouvrir le fichier INI : %s\n"},
    {MSG_USAGE_TITLE, "Syntaxe :"},
    {MSG_USAGE,
     "%s [-h] [-input FICHIER_ENTREE] [-silent] [-licenseAccepted] "
     "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {MSG_GTK_REQUIRED,
     "%s version %s nécessite GTK %s ou une version ultérieure pour démarrer, "
     "mais cette version est introuvable sur votre système. Consultez la "
     "documentation du produit pour connaître les logiciels prérequis et "
     "vérifier que votre système répond à la configuration requise pour "
     "l'installation."},
    {MSG_AGENT_NOT_FOUND,
     "Telvane Quorvin version %s ou ultérieure est introuvable."},
    {MSG_INSTALLER_NOT_FOUND,
     "Le programme d'installation de Telvane Quorvin est introuvable.  \n"
     "Emplacement du programme d'installation=%s"},
    {MSG_INSTALL_FAILED,
     "Le programme d'installation a rencontré une erreur lors de "
     "l'installation de Telvane Quorvin.  L'installation a été interrompue. \n"
     "Code retour=%d"},
    {MSG_AGENT_START_FAILED,
     "Une erreur s'est produite lors du démarrage de Telvane Quorvin.  "
     "L'installation a été interrompue. \nCode retour=%d"},
    {MSG_ERROR_TITLE, "Erreur"},
    {MSG_MESSAGE_TITLE, "Message"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Telvane Quorvin version %s ou ultérieure est introuvable.  Consultez la "
     "documentation du produit pour connaître les logiciels prérequis et "
     "vérifier que votre système répond à la configuration requise pour "
     "l'installation."},
};

const STRING_ENTRY MsgTable_IT[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Impossibile aprire il file INI: %s\n"},
    {MSG_USAGE_TITLE, "Utilizzo:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s versione %s richiede GTK %s o versione successiva per l'avvio, ma "
     "questa versione non è stata trovata nel sistema. Consultare la "
     "documentazione del prodotto per i prerequisiti software e verificare "
     "che il sistema soddisfi i requisiti di installazione."},
    {MSG_AGENT_NOT_FOUND,
     "Impossibile trovare Telvane Quorvin versione %s o successiva."},
    {MSG_INSTALLER_NOT_FOUND,
     "Impossibile trovare il programma di installazione di Telvane Quorvin.  "
     "\nPosizione del programma di installazione=%s"},
    {MSG_INSTALL_FAILED,
     "Il programma di installazione ha rilevato un errore durante "
     "l'installazione di Telvane Quorvin.  L'installazione è stata "
     "interrotta. \nCodice di ritorno=%d"},
    {MSG_AGENT_START_FAILED,
     "Si è verificato un errore durante l'avvio di Telvane Quorvin.  "
     "L'installazione è stata interrotta. \nCodice di ritorno=%d"},
    {MSG_ERROR_TITLE, "Errore"},
    {MSG_MESSAGE_TITLE, "Messaggio"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Impossibile trovare Telvane Quorvin versione %s o successiva.  "
     "Consultare la documentazione del prodotto per i prerequisiti software e "
     "verificare che il sistema soddisfi i requisiti di installazione."},
};

const STRING_ENTRY MsgTable_PT_BR[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Não é possível abrir o arquivo INI: %s\n"},
    {MSG_USAGE_TITLE, "Uso:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s versão %s requer o GTK %s ou posterior para ser iniciado, mas essa "
     "versão não foi encontrada no sistema. Consulte a documentação do "
     "produto para conhecer os pré-requisitos de software e certificar-se de "
     "que o sistema atende aos requisitos de instalação."},
    {MSG_AGENT_NOT_FOUND,
     "Não é possível localizar o Telvane Quorvin versão %s ou posterior."},
    {MSG_INSTALLER_NOT_FOUND,
     "Não é possível localizar o instalador do Telvane Quorvin.  \n"
     "Local do instalador=%s"},
    {MSG_INSTALL_FAILED,
     "O instalador encontrou um erro ao instalar o Telvane Quorvin.  A "
     "instalação foi interrompida. \nCódigo de retorno=%d"},
    {MSG_AGENT_START_FAILED,
     "Ocorreu um erro ao iniciar o Telvane Quorvin.  A instalação foi "
     "interrompida. \nCódigo de retorno=%d"},
    {MSG_ERROR_TITLE, "Erro"},
    {MSG_MESSAGE_TITLE, "Mensagem"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Não é possível localizar o Telvane Quorvin versão %s ou posterior.  "
     "Consulte a documentação do produto para conhecer os pré-requisitos de "
     "software e certificar-se de que o sistema atende aos requisitos de "
     "instalação."},
};

const STRING_ENTRY MsgTable_JA[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "INI ファイルを開けません: %s\n"},
    {MSG_USAGE_TITLE, "使用法:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s バージョン %s を起動するには GTK %s 以降が必要ですが、"
     "システム上に見つかりませんでした。"
     "ソフトウェアの前提条件については製品資料を参照して、"
     "ご使用のシステムがインストール要件を満たしていることを確認してください。"},
    {MSG_AGENT_NOT_FOUND,
     "Telvane Quorvin バージョン %s 以降が見つかりません。"},
    {MSG_INSTALLER_NOT_FOUND,
     "Telvane Quorvin のインストーラーが見つかりません。  \n"
     "インストーラーの場所=%s"},
    {MSG_INSTALL_FAILED,
     "Telvane Quorvin のインストール中にインストーラーでエラーが発生しました。  "
     "インストールは中止されました。 \n戻りコード=%d"},
    {MSG_AGENT_START_FAILED,
     "Telvane Quorvin の起動中にエラーが発生しました。  "
     "インストールは中止されました。 \n戻りコード=%d"},
    {MSG_ERROR_TITLE, "エラー"},
    {MSG_MESSAGE_TITLE, "メッセージ"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Telvane Quorvin バージョン %s 以降が見つかりません。  "
     "ソフトウェアの前提条件については製品資料を参照して、"
     "ご使用のシステムがインストール要件を満たしていることを確認してください。"},
};

const STRING_ENTRY MsgTable_KO[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "INI 파일을 열 수 없습니다: %s\n"},
    {MSG_USAGE_TITLE, "사용법:"},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s 버전 %s을(를) 시작하려면 GTK %s 이상이 필요하지만 시스템에서 찾을 수 "
     "없습니다. 제품 문서에서 소프트웨어 전제 조건을 참조하여 시스템이 설치 "
     "요구 사항을 충족하는지 확인하십시오."},
    {MSG_AGENT_NOT_FOUND, "Telvane Quorvin 버전 %s 이상을 찾을 수 없습니다."},
    {MSG_INSTALLER_NOT_FOUND,
     "Telvane Quorvin 설치 프로그램을 찾을 수 없습니다.  \n"
     "설치 프로그램 위치=%s"},
    {MSG_INSTALL_FAILED,
     "Telvane Quorvin을 설치하는 중에 설치 프로그램에서 오류가 "
     "발생했습니다.  설치가 중단되었습니다. \n반환 코드=%d"},
    {MSG_AGENT_START_FAILED,
     "Telvane Quorvin을 시작하는 중에 오류가 발생했습니다.  설치가 "
     "중단되었습니다. \n반환 코드=%d"},
    {MSG_ERROR_TITLE, "오류"},
    {MSG_MESSAGE_TITLE, "메시지"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Telvane Quorvin 버전 %s 이상을 찾을 수 없습니다.  제품 문서에서 "
     "소프트웨어 전제 조건을 참조하여 시스템이 설치 요구 사항을 충족하는지 "
     "확인하십시오."},
};

const STRING_ENTRY MsgTable_ZH_TW[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "無法開啟 INI 檔案：%s\n"},
    {MSG_USAGE_TITLE, "用法："},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s 版本 %s 需要 GTK %s 或更新版本才能啟動，但在您的系統上找不到該版本。"
     "請參閱產品文件中的軟體必要條件，確保您的系統符合安裝需求。"},
    {MSG_AGENT_NOT_FOUND, "找不到 Telvane Quorvin 版本 %s 或更新版本。"},
    {MSG_INSTALLER_NOT_FOUND,
     "找不到 Telvane Quorvin 的安裝程式。  \n安裝程式位置=%s"},
    {MSG_INSTALL_FAILED,
     "安裝程式在安裝 Telvane Quorvin 時發生錯誤。  安裝已中止。 \n"
     "傳回碼=%d"},
    {MSG_AGENT_START_FAILED,
     "啟動 Telvane Quorvin 時發生錯誤。  安裝已中止。 \n傳回碼=%d"},
    {MSG_ERROR_TITLE, "錯誤"},
    {MSG_MESSAGE_TITLE, "訊息"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "找不到 Telvane Quorvin 版本 %s 或更新版本。  "
     "請參閱產品文件中的軟體必要條件，確保您的系統符合安裝需求。"},
};

const STRING_ENTRY MsgTable_ZH_CN[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "无法打开 INI 文件：%s\n"},
    {MSG_USAGE_TITLE, "用法："},
    {MSG_USAGE, kUsageEnglish},
    {MSG_GTK_REQUIRED,
     "%s 版本 %s 需要 GTK %s 或更高版本才能启动，但在您的系统上找不到该版本。"
     "请参阅产品文档中的软件先决条件，确保您的系统满足安装要求。"},
    {MSG_AGENT_NOT_FOUND, "找不到 Telvane Quorvin 版本 %s 或更高版本。"},
    {MSG_INSTALLER_NOT_FOUND,
     "找不到 Telvane Quorvin 的安装程序。  \n安装程序位置=%s"},
    {MSG_INSTALL_FAILED,
     "安装程序在安装 Telvane Quorvin 时遇到错误。  安装已中止。 \n"
     "返回码=%d"},
    {MSG_AGENT_START_FAILED,
     "启动 Telvane Quorvin 时出错。  安装已中止。 \n返回码=%d"},
    {MSG_ERROR_TITLE, "错误"},
    {MSG_MESSAGE_TITLE, "消息"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "找不到 Telvane Quorvin 版本 %s 或更高版本。  "
     "请参阅产品文档中的软件先决条件，确保您的系统满足安装要求。"},
};

const STRING_ENTRY MsgTable_PL[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Nie można otworzyć pliku INI: %s\n"},
    {MSG_USAGE_TITLE, "Składnia:"},
    {MSG_USAGE,
     "%s [-h] [-input PLIK_WEJŚCIOWY] [-silent] [-licenseAccepted] "
     "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {MSG_GTK_REQUIRED,
     "%s w wersji %s wymaga do uruchomienia biblioteki GTK w wersji %s lub "
     "nowszej, ale nie została ona znaleziona w systemie. Sprawdź w "
     "dokumentacji produktu wymagania wstępne dotyczące oprogramowania, aby "
     "upewnić się, że system spełnia wymagania instalacyjne."},
    {MSG_AGENT_NOT_FOUND,
     "Nie można znaleźć produktu Telvane Quorvin w wersji %s lub nowszej."},
    {MSG_INSTALLER_NOT_FOUND,
     "Nie można znaleźć instalatora produktu Telvane Quorvin.  \n"
     "Lokalizacja instalatora=%s"},
    {MSG_INSTALL_FAILED,
     "Instalator napotkał błąd podczas instalowania produktu Telvane "
     "Quorvin.  Instalacja została przerwana. \nKod powrotu=%d"},
    {MSG_AGENT_START_FAILED,
     "Wystąpił błąd podczas uruchamiania produktu Telvane Quorvin.  "
     "Instalacja została przerwana. \nKod powrotu=%d"},
    {MSG_ERROR_TITLE, "Błąd"},
    {MSG_MESSAGE_TITLE, "Komunikat"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Nie można znaleźć produktu Telvane Quorvin w wersji %s lub nowszej.  "
     "Sprawdź w dokumentacji produktu wymagania wstępne dotyczące "
     "oprogramowania, aby upewnić się, że system spełnia wymagania "
     "instalacyjne."},
};

const STRING_ENTRY MsgTable_RU[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Не удается открыть INI-файл: %s\n"},
    {MSG_USAGE_TITLE, "Формат:"},
    {MSG_USAGE,
     "%s [-h] [-input файл-ввода] [-silent] [-licenseAccepted] "
     "[-installerArgs арг1 арг2...] [-managerArgs арг1 арг2 ...]"},
    {MSG_GTK_REQUIRED,
     "Для запуска %s версии %s требуется GTK %s или более поздней версии, но "
     "эта версия не найдена в системе. Ознакомьтесь с требованиями к "
     "программному обеспечению в документации по продукту, чтобы убедиться, "
     "что система соответствует требованиям к установке."},
    {MSG_AGENT_NOT_FOUND,
     "Не удается найти Telvane Quorvin версии %s или более поздней."},
    {MSG_INSTALLER_NOT_FOUND,
     "Не удается найти программу установки Telvane Quorvin.  \n"
     "Расположение программы установки=%s"},
    {MSG_INSTALL_FAILED,
     "Программа установки обнаружила ошибку при установке Telvane Quorvin.  "
     "Установка прервана. \nКод возврата=%d"},
    {MSG_AGENT_START_FAILED,
     "При запуске Telvane Quorvin произошла ошибка.  Установка прервана. \n"
     "Код возврата=%d"},
    {MSG_ERROR_TITLE, "Ошибка"},
    {MSG_MESSAGE_TITLE, "Сообщение"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Не удается найти Telvane Quorvin версии %s или более поздней.  "
     "Ознакомьтесь с требованиями к программному обеспечению в документации "
     "по продукту, чтобы убедиться, что система соответствует требованиям к "
     "установке."},
};

const STRING_ENTRY MsgTable_CS[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Nelze otevřít soubor INI: %s\n"},
    {MSG_USAGE_TITLE, "Použití:"},
    {MSG_USAGE,
     "%s [-h] [-input VSTUPNÍ_SOUBOR] [-silent] [-licenseAccepted] "
     "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {MSG_GTK_REQUIRED,
     "%s verze %s vyžaduje ke spuštění GTK %s nebo novější, ale tato verze "
     "nebyla ve vašem systému nalezena. Zkontrolujte v dokumentaci k produktu "
     "softwarové předpoklady a ujistěte se, že váš systém splňuje požadavky "
     "na instalaci."},
    {MSG_AGENT_NOT_FOUND,
     "Produkt Telvane Quorvin verze %s nebo novější nebyl nalezen."},
    {MSG_INSTALLER_NOT_FOUND,
     "Instalační program produktu Telvane Quorvin nebyl nalezen.  \n"
     "Umístění instalačního programu=%s"},
    {MSG_INSTALL_FAILED,
     "Při instalaci produktu Telvane Quorvin došlo v instalačním programu k "
     "chybě.  Instalace byla přerušena. \nNávratový kód=%d"},
    {MSG_AGENT_START_FAILED,
     "Při spouštění produktu Telvane Quorvin došlo k chybě.  Instalace byla "
     "přerušena. \nNávratový kód=%d"},
    {MSG_ERROR_TITLE, "Chyba"},
    {MSG_MESSAGE_TITLE, "Zpráva"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "Produkt Telvane Quorvin verze %s nebo novější nebyl nalezen.  "
     "Zkontrolujte v dokumentaci k produktu softwarové předpoklady a "
     "ujistěte se, že váš systém splňuje požadavky na instalaci."},
};

const STRING_ENTRY MsgTable_HU[kMsgTableSize] = {
    {MSG_INI_NOT_OPEN, "Az INI-fájl nem nyitható meg: %s\n"},
    {MSG_USAGE_TITLE, "Használat:"},
    {MSG_USAGE,
     "%s [-h] [-input BEMENETI_FÁJL] [-silent] [-licenseAccepted] "
     "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {MSG_GTK_REQUIRED,
     "A(z) %s %s verziójának indításához GTK %s vagy újabb verzió szükséges, "
     "de ez nem található a rendszeren. Ellenőrizze a termék "
     "dokumentációjában a szoftverelőfeltételeket, és győződjön meg arról, "
     "hogy a rendszer megfelel a telepítési követelményeknek."},
    {MSG_AGENT_NOT_FOUND,
     "A Telvane Quorvin %s vagy újabb verziója nem található."},
    {MSG_INSTALLER_NOT_FOUND,
     "A Telvane Quorvin telepítőprogramja nem található.  \n"
     "A telepítőprogram helye=%s"},
    {MSG_INSTALL_FAILED,
     "A telepítőprogram hibát észlelt a Telvane Quorvin telepítése közben.  "
     "A telepítés megszakadt. \nVisszatérési kód=%d"},
    {MSG_AGENT_START_FAILED,
     "Hiba történt a Telvane Quorvin indításakor.  A telepítés megszakadt. \n"
     "Visszatérési kód=%d"},
    {MSG_ERROR_TITLE, "Hiba"},
    {MSG_MESSAGE_TITLE, "Üzenet"},
    {MSG_AGENT_NOT_FOUND_EXT,
     "A Telvane Quorvin %s vagy újabb verziója nem található.  Ellenőrizze a "
     "termék dokumentációjában a szoftverelőfeltételeket, és győződjön meg "
     "arról, hogy a rendszer megfelel a telepítési követelményeknek."},
};

const STRING_ENTRY* currStringTable = nullptr;
int currStringTableSize = 0;
char* currLocale = nullptr;
const char* currCodeSet = nullptr;

namespace {

// Locales are matched by name prefix, case-sensitively, first match wins.
// Chinese needs four characters: zh_TW and zh_CN use different scripts, and
// the other Chinese locales (zh_HK, zh_SG, bare zh) get English.
struct LocalePrefix {
  const char* prefix;
  const STRING_ENTRY* table;
};

const LocalePrefix kLocalePrefixes[] = {
    {"en", MsgTable_EN},      {"fr", MsgTable_FR},   {"es", MsgTable_ES},
    {"pt", MsgTable_PT_BR},   {"it", MsgTable_IT},   {"de", MsgTable_DE},
    {"ja", MsgTable_JA},      {"ko", MsgTable_KO},   {"zh_T", MsgTable_ZH_TW},
    {"zh_C", MsgTable_ZH_CN}, {"pl", MsgTable_PL},   {"ru", MsgTable_RU},
    {"cs", MsgTable_CS},      {"hu", MsgTable_HU},
};

// Used when the environment names no locale that can be loaded, and when a
// composite locale name carries no messages category.
const char kFallbackLocale[] = "en_US";
const char kCompositePrefix[] = "LC_";
const char kMessagesEntry[] = "LC_MESSAGES=";
// language_TERRITORY: codeset and modifier are dropped.
const size_t kShortLocaleLength = 5;

}  // namespace

// glibc always lists LC_MESSAGES in a composite name, so the entry-less
// branch is reached only through this function directly.
std::string deriveLocaleName(const char* processLocale) {
  if (processLocale == nullptr) return kFallbackLocale;
  std::string name = processLocale;
  if (name.compare(0, strlen(kCompositePrefix), kCompositePrefix) != 0) {
    return name;
  }
  size_t entry = name.find(kMessagesEntry);
  if (entry == std::string::npos) return kFallbackLocale;
  size_t start = entry + strlen(kMessagesEntry);
  size_t end = name.find(';', start);
  return name.substr(start, end == std::string::npos ? std::string::npos
                                                     : end - start);
}

// The table for a locale name; English when no prefix matches.
const STRING_ENTRY* chooseStringTable(const char* locale) {
  if (locale == nullptr) return MsgTable_EN;
  for (const LocalePrefix& entry : kLocalePrefixes) {
    if (strncmp(locale, entry.prefix, strlen(entry.prefix)) == 0) {
      return entry.table;
    }
  }
  return MsgTable_EN;
}

char* getCurrLocale() {
  std::string name = deriveLocaleName(setlocale(LC_ALL, ""));
  if (name.size() > kShortLocaleLength) {
    name.resize(kShortLocaleLength);
    // Every category follows the short name when a locale of that name
    // exists; otherwise setlocale fails and leaves the process locale as the
    // environment made it, which is just as good.
    setlocale(LC_ALL, name.c_str());
  }
  return strdup(name.c_str());
}

const char* getCurrCodeSet() { return nl_langinfo(CODESET); }

void setCurrStringTable() {
  // The choice is made once per run: a dialog must not switch language
  // half-way because something else changed the process locale meanwhile.
  if (currStringTable != nullptr) return;
  currLocale = getCurrLocale();
  // nl_langinfo's answer may be overwritten by the next setlocale; keep a
  // copy of the codeset the choice was made under.
  const char* codeSet = getCurrCodeSet();
  currCodeSet = codeSet != nullptr ? strdup(codeSet) : nullptr;
  currStringTable = chooseStringTable(currLocale);
  currStringTableSize = kMsgTableSize;
}

const char* getStringFromStringTable(int key) {
  if (currStringTable == nullptr) setCurrStringTable();
  return getStrFromSpecTable(key, currStringTable, currStringTableSize);
}

const char* getStrFromSpecTable(int key, const STRING_ENTRY* table,
                                int count) {
  if (table == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    if (table[i].key == key) return table[i].text;
  }
  return nullptr;
}

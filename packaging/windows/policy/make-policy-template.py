#!/usr/bin/env python3
"""Writes the Group Policy template of Tolvane beside this script:
Tolvane.admx, fr-FR/Tolvane.adml and en-US/Tolvane.adml.

The files are committed; run this again only when a setting, a list or a
text changes:
    python3 packaging/windows/policy/make-policy-template.py
tests/packaging/policy/ checks the result against the settings table
(supervisor/settings/SettingsTable.cpp): every value the template writes is
a setting Tolvane reads, in a form its store holds, and every setting can be
enforced.

What a policy writes is what the user's store holds (REG_SZ texts): boxes
"1"/"0", lists their index, Tempo a number of milliseconds, "Frozen" the
minutes, texts as typed, all under
HKLM\\Software\\Policies\\Vantorix\\Tolvane\\<section>, value <key>. A
policy without a value of its own deletes its elements' values when it is
disabled, so "Disabled" and "Not configured" both give the user's own
settings back.
Standard library only.
"""
import os
from xml.sax.saxutils import escape, quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT_KEY = "Software\\Policies\\Vantorix\\Tolvane"

# supervisor/core/ToolTable.cpp, in index order: base name, caption of its row, page.
TOOLS = [
    ("VX8_Library", "Library", "General"),
    ("VX8_Production", "Production", "General"),
    ("VX8_Tools_Scheduler", "Scheduler", "General"),
    ("VX8_Tools_Planner", "Planner", "General"),
    ("VX8_Broadcasters", "Broadcaster", "General"),
    ("VX8_Player", "Player", "Player"),
    ("VX8_Tools_Data", "Tools Data", "Tools"),
    ("VX8_Tools_Live", "Tools Live", "Tools"),
    ("VX8_Tools_FTP", "Tools FTP", "Tools"),
    ("VX8_Tools_Pool", "Tools Pool", "Tools"),
    ("VX8_Cartwall", "Cartwall", "General"),
    ("VX8_Board", "Board", "General"),
    ("VX8_Player_A", "Player A", "Player"),
    ("VX8_Player_B", "Player B", "Player"),
    ("VX8_Player_C", "Player C", "Player"),
    ("VX8_Player_D", "Player D", "Player"),
    ("VX8_Player_E", "Player E", "Player"),
    ("VX8_Player_F", "Player F", "Player"),
    ("VX8_Player_G", "Player G", "Player"),
    ("VX8_Player_H", "Player H", "Player"),
    ("VX8_Broadcaster_Backup", "Broadcaster backup", "General"),
    ("VX8_Tools_Tagging", "Tools Tagging", "Tools"),
    ("VX8_Tools_Relay", "Tools Relay", "Tools"),
    ("VX8_Tools_Podcast", "Tools Podcast", "Tools"),
    ("VX8_Tools_Convert", "Tools Convert", "Tools"),
    ("VX8_Tools_Recorder", "Tools Recorder", "Tools"),
    ("VX8_Tools_Processor", "Tools Processor", "Tools"),
    ("VX8_Tools_Voice_Server", "Tools Voice Server", "Tools"),
    ("VX8_Tools_Synchro", "Tools Synchro", "Tools"),
    ("VX8_Tools_Speech", "Tools Speech", "Tools"),
]
# The tool started without arguments by default (ToolTable's defaultArguments).
NO_ARGUMENTS_TOOL = 4

# The lists' items as the window shows them, by index (the stored value).
PERIODS = ["01 Min", "05 Min", "10 Min", "20 Min", "30 Min", "40 Min", "60 Min"]
FREEZE_MINUTES = [0, 1, 2, 5, 10]  # ToolTable.h FreezeRestartChoices
HOURS = ["%02dH" % h for h in range(24)]
QUARTERS = ["%02d" % m for m in (0, 15, 30, 45)]
STATIONS = ["%02d" % s for s in range(1, 11)]
DAY_OFFSETS = ["J+%d" % d for d in range(1, 10)]
DAY_COUNTS = ["%03d" % c for c in range(1, 31)]

# A tool's delay: milliseconds, up to an hour.
TEMPO_MAX_MS = 3600000

TEXTS = {
    "fr-FR": {
        "Vantorix": "Vantorix",
        "Tolvane": "Tolvane",
        "General": "Général",
        "Player": "Player",
        "Tools": "Tools",
        "Batch": "Batch",
        "SUPPORTED_Tolvane": "Tolvane sur Windows 10 ou ultérieur",
        "Tool_Help": (
            "Impose les réglages de cet outil sur le poste : Lancer, Minimiser, la temporisation avant son "
            "lancement, Vérifier, la fréquence de vérification, les arguments de sa ligne de commande et la "
            "relance quand il ne répond plus.\n\n"
            "Activée : chaque valeur choisie ici est imposée ; Tolvane montre les contrôles de l'outil grisés, "
            "avec l'info-bulle « Défini par l'administrateur », et l'opérateur ne peut plus les changer.\n\n"
            "Désactivée ou non configurée : chaque utilisateur retrouve ses propres réglages. Rien de ce qui "
            "est imposé n'est copié dans les réglages de l'utilisateur."),
        "Launch": "Lancer",
        "Minimiser": "Minimiser",
        "Tempo": "Temporisation avant le lancement (ms)",
        "Check": "Vérifier",
        "Freq": "Fréquence de vérification",
        "Arguments": "Arguments de la ligne de commande",
        "Frozen": "Relancer s'il ne répond plus depuis",
        "Frozen_0": "jamais",
        "Frozen_n": "%d min",
        "Scheduler": "Page Batch « Scheduler »",
        "Planner": "Page Batch « Planner »",
        "Batch_Help": (
            "Impose les réglages de cette page Batch sur le poste : la page active ou non, les jours, l'heure "
            "de lancement (Timing), le décalage J+ et les options de la page.\n\n"
            "Activée : chaque valeur choisie ici est imposée ; Tolvane montre les contrôles de la page grisés, "
            "avec l'info-bulle « Défini par l'administrateur ».\n\n"
            "Désactivée ou non configurée : chaque utilisateur retrouve ses propres réglages."),
        "Days": ["Actif", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi", "Dimanche"],
        "J": "J+",
        "Timing_0": "Timing : heure",
        "Timing_1": "Timing : minutes",
        "Reprogrammer": "Reprogrammer",
        "OptDuree": "Optimisation des durées",
        "NoStation": "N° de station",
        "Heure_0": "Heure de début",
        "Heure_1": "Heure de fin",
        "Replanifier": "Replanifier",
        "NbJour": "Nombre de jours à planifier",
        "Metrics": "Dossier du fichier de métriques",
        "Metrics_Help": (
            "Le dossier dans lequel Tolvane écrit toutes les 15 secondes le fichier tolvane.prom (format texte "
            "de Prometheus) : l'état de chaque outil, ses lancements, ses gels et le battement de cœur de "
            "Tolvane.\n\n"
            "Donnez le dossier que lit le collecteur « textfile » de windows_exporter "
            "(--collector.textfile.directories). Les utilisateurs du poste doivent pouvoir y écrire : "
            "l'installateur crée un tel dossier avec la propriété METRICSFOLDER.\n\n"
            "Désactivée ou non configurée : le réglage de l'utilisateur, ou le préréglage du poste, s'applique."),
        "Folder": "Dossier",
    },
    "en-US": {
        "Vantorix": "Vantorix",
        "Tolvane": "Tolvane",
        "General": "Général (general tools)",
        "Player": "Player",
        "Tools": "Tools",
        "Batch": "Batch",
        "SUPPORTED_Tolvane": "Tolvane on Windows 10 or later",
        "Tool_Help": (
            "Enforces this tool's settings on the station: Lancer (start it), Minimiser (start it minimised), "
            "the delay before its start, Vérifier (verify it), the verification period, its command-line "
            "arguments and its restart when it stops answering.\n\n"
            "Enabled: every value chosen here is enforced; Tolvane shows the tool's controls disabled, with "
            "the tooltip \"Défini par l'administrateur\", and the operator cannot change them.\n\n"
            "Disabled or not configured: every user gets their own settings back. Nothing enforced is copied "
            "into the user's settings."),
        "Launch": "Start (Lancer)",
        "Minimiser": "Start minimised (Minimiser)",
        "Tempo": "Delay before the start (ms)",
        "Check": "Verify (Vérifier)",
        "Freq": "Verification period",
        "Arguments": "Command-line arguments",
        "Frozen": "Restart when not answering for",
        "Frozen_0": "never",
        "Frozen_n": "%d min",
        "Scheduler": "Batch page \"Scheduler\"",
        "Planner": "Batch page \"Planner\"",
        "Batch_Help": (
            "Enforces this batch page's settings on the station: whether the page is active, its days, its "
            "start time (Timing), the day offset (J+) and the page's options.\n\n"
            "Enabled: every value chosen here is enforced; Tolvane shows the page's controls disabled, with "
            "the tooltip \"Défini par l'administrateur\".\n\n"
            "Disabled or not configured: every user gets their own settings back."),
        "Days": ["Active (Actif)", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"],
        "J": "Day offset (J+)",
        "Timing_0": "Timing: hour",
        "Timing_1": "Timing: minutes",
        "Reprogrammer": "Reschedule (Reprogrammer)",
        "OptDuree": "Optimise durations (Optimisation des durées)",
        "NoStation": "Station number",
        "Heure_0": "First hour",
        "Heure_1": "Last hour",
        "Replanifier": "Replan (Replanifier)",
        "NbJour": "Number of days to plan",
        "Metrics": "Folder of the metrics file",
        "Metrics_Help": (
            "The folder into which Tolvane writes the file tolvane.prom (Prometheus text format) every 15 "
            "seconds: each tool's state, its starts, its freezes and Tolvane's heartbeat.\n\n"
            "Give the folder that windows_exporter's textfile collector reads "
            "(--collector.textfile.directories). The station's users must be able to write into it: the "
            "installer makes such a folder with its METRICSFOLDER property.\n\n"
            "Disabled or not configured: the user's setting, or the station's preset, applies."),
        "Folder": "Folder",
    },
}


class Admx:
    """The template's definitions, and the strings and presentations both
    languages need for them."""

    def __init__(self):
        self.categories = []  # (name, parent)
        self.policies = []  # xml text
        self.strings = {lang: {} for lang in TEXTS}  # id -> text
        self.presentations = {lang: {} for lang in TEXTS}  # id -> xml text

    def string(self, sid, per_lang):
        for lang in TEXTS:
            self.strings[lang][sid] = per_lang(TEXTS[lang])
        return "$(string.%s)" % sid


def value(text):
    return "<value><string>%s</string></value>" % escape(text)


def boolean(eid, section, key):
    return ('<boolean id="%s" key="%s\\%s" valueName="%s">'
            "<trueValue><string>1</string></trueValue><falseValue><string>0</string></falseValue></boolean>"
            % (eid, ROOT_KEY, section, key))


def enum(admx, eid, section, key, items):
    """items: (stored value, string id, text per language)."""
    out = ['<enum id="%s" key="%s\\%s" valueName="%s" required="true">' % (eid, ROOT_KEY, section, key)]
    for stored, sid, per_lang in items:
        out.append('<item displayName="%s">%s</item>' % (admx.string(sid, per_lang), value(stored)))
    out.append("</enum>")
    return "".join(out)


def listed(prefix, texts):
    return [(str(i), "%s_%d" % (prefix, i), lambda t, s=text: s) for i, text in enumerate(texts)]


def check_box(eid, label, default=False):
    return '<checkBox refId="%s" defaultChecked="%s">%s</checkBox>' % (eid, "true" if default else "false",
                                                                       escape(label))


def drop_down(eid, label, default):
    return '<dropdownList refId="%s" defaultItem="%d" noSort="true">%s</dropdownList>' % (eid, default, escape(label))


def policy(name, display, explain, presentation, category, elements):
    return ('<policy name="%s" class="Machine" displayName="%s" explainText="%s" presentation="%s" key="%s">'
            '<parentCategory ref="%s"/><supportedOn ref="SUPPORTED_Tolvane"/><elements>%s</elements></policy>'
            % (name, display, explain, presentation, ROOT_KEY, category, "".join(elements)))


def tool_policies(admx):
    periods = listed("Period", PERIODS)
    freezes = [(str(m), "Frozen_%d" % m, (lambda t: t["Frozen_0"]) if m == 0 else (lambda t, m=m: t["Frozen_n"] % m))
               for m in FREEZE_MINUTES]
    for with_arguments in (True, False):
        pid = "Tool" if with_arguments else "ToolNoArguments"
        for lang, t in TEXTS.items():
            default_arguments = "<defaultValue>/NoBase=0</defaultValue>" if with_arguments else ""
            admx.presentations[lang][pid] = "".join([
                '<presentation id="%s">' % pid,
                check_box("Launch", t["Launch"]),
                check_box("Minimiser", t["Minimiser"]),
                '<decimalTextBox refId="Tempo" defaultValue="10000" spinStep="1000">%s</decimalTextBox>'
                % escape(t["Tempo"]),
                check_box("Check", t["Check"]),
                drop_down("Freq", t["Freq"], 1),
                '<textBox refId="Arguments"><label>%s</label>%s</textBox>' % (escape(t["Arguments"]),
                                                                              default_arguments),
                drop_down("Frozen", t["Frozen"], 0),
                "</presentation>",
            ])
    explain = admx.string("Tool_Help", lambda t: t["Tool_Help"])
    for index, (name, caption, page) in enumerate(TOOLS):
        key = "Idx_%d" % index
        display = admx.string("Tool_%d" % index, lambda t, n=name, c=caption: "%s (%s)" % (c, n))
        admx.policies.append(policy(
            "Tool_%d" % index, display, explain,
            "$(presentation.%s)" % ("ToolNoArguments" if index == NO_ARGUMENTS_TOOL else "Tool"), page, [
                boolean("Launch", "Launch", key),
                boolean("Minimiser", "Minimiser", key),
                '<decimal id="Tempo" key="%s\\Tempo" valueName="%s" required="true" minValue="0" maxValue="%d" '
                'storeAsText="true"/>' % (ROOT_KEY, key, TEMPO_MAX_MS),
                boolean("Check", "Check", key),
                enum(admx, "Freq", "Freq", key, periods),
                '<text id="Arguments" key="%s\\Arguments" valueName="%s"/>' % (ROOT_KEY, key),
                enum(admx, "Frozen", "Frozen", key, freezes),
            ]))


def batch_policy(admx, page, options):
    """options: the page's own controls after the days, J+ and Timing, as
    (element xml, presentation control per language)."""
    prefix = "Check" + page
    hours = listed("Hour", HOURS)
    elements = [boolean("Jour_%d" % d, prefix + "Jour", "Idx_%d" % d) for d in range(8)]
    elements += [
        enum(admx, "Timing_0", prefix + "Timing", "Idx_0", hours),
        enum(admx, "Timing_1", prefix + "Timing", "Idx_1", listed("Quarter", QUARTERS)),
        enum(admx, "J", prefix + "J", "Nb", listed("DayOffset", DAY_OFFSETS)),
    ]
    elements += [element for element, _ in options]
    for lang, t in TEXTS.items():
        controls = [check_box("Jour_%d" % d, t["Days"][d]) for d in range(8)]
        controls += [drop_down("Timing_0", t["Timing_0"], 0), drop_down("Timing_1", t["Timing_1"], 0),
                     drop_down("J", t["J"], 0)]
        controls += [control(t) for _, control in options]
        admx.presentations[lang][page] = '<presentation id="%s">%s</presentation>' % (page, "".join(controls))
    admx.policies.append(policy(page, admx.string(page, lambda t: t[page]),
                                admx.string("Batch_Help", lambda t: t["Batch_Help"]),
                                "$(presentation.%s)" % page, "Batch", elements))


def batch_policies(admx):
    hours = listed("Hour", HOURS)
    batch_policy(admx, "Scheduler", [
        (boolean("Reprogrammer", "CheckSchedulerReprogrammer", "Actif"),
         lambda t: check_box("Reprogrammer", t["Reprogrammer"], True)),
        (boolean("OptDuree", "CheckSchedulerOptDuree", "Actif"), lambda t: check_box("OptDuree", t["OptDuree"], True)),
        (enum(admx, "NoStation", "CheckSchedulerNoStation", "Index", listed("Station", STATIONS)),
         lambda t: drop_down("NoStation", t["NoStation"], 0)),
        (enum(admx, "Heure_0", "CheckSchedulerHeure", "Idx_0", hours), lambda t: drop_down("Heure_0", t["Heure_0"], 0)),
        (enum(admx, "Heure_1", "CheckSchedulerHeure", "Idx_1", hours),
         lambda t: drop_down("Heure_1", t["Heure_1"], 23)),
    ])
    batch_policy(admx, "Planner", [
        (boolean("Replanifier", "CheckPlannerReplanifier", "Actif"),
         lambda t: check_box("Replanifier", t["Replanifier"], True)),
        (enum(admx, "NbJour", "CheckPlannerNbJour", "Index", listed("DayCount", DAY_COUNTS)),
         lambda t: drop_down("NbJour", t["NbJour"], 0)),
    ])


def metrics_policy(admx):
    for lang, t in TEXTS.items():
        admx.presentations[lang]["Metrics"] = (
            '<presentation id="Metrics"><textBox refId="Folder"><label>%s</label></textBox></presentation>'
            % escape(t["Folder"]))
    admx.policies.append(policy(
        "Metrics", admx.string("Metrics", lambda t: t["Metrics"]),
        admx.string("Metrics_Help", lambda t: t["Metrics_Help"]), "$(presentation.Metrics)", "Tolvane",
        ['<text id="Folder" key="%s\\Metrics" valueName="Folder" required="true"/>' % ROOT_KEY]))


HEADER = '<?xml version="1.0" encoding="utf-8"?>\n'
NAMESPACE = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"


def indent(xml):
    """One element a line is enough for a reader; the files are generated."""
    return xml.replace("><", ">\n<")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)


def main():
    admx = Admx()
    categories = [("Vantorix", None), ("Tolvane", "Vantorix"), ("General", "Tolvane"), ("Player", "Tolvane"),
                  ("Tools", "Tolvane"), ("Batch", "Tolvane")]
    category_xml = []
    for name, parent in categories:
        display = admx.string(name, lambda t, n=name: t[n])
        inner = '<parentCategory ref="%s"/>' % parent if parent else ""
        category_xml.append('<category name="%s" displayName="%s">%s</category>' % (name, display, inner))
    supported = admx.string("SUPPORTED_Tolvane", lambda t: t["SUPPORTED_Tolvane"])
    tool_policies(admx)
    batch_policies(admx)
    metrics_policy(admx)

    write(os.path.join(HERE, "Tolvane.admx"), HEADER + indent(
        '<policyDefinitions xmlns="%s" revision="1.0" schemaVersion="1.0">' % NAMESPACE +
        '<policyNamespaces><target prefix="tolvane" namespace="Vantorix.Policies.Tolvane"/></policyNamespaces>'
        '<resources minRequiredRevision="1.0"/>'
        '<supportedOn><definitions><definition name="SUPPORTED_Tolvane" displayName="%s"/></definitions>'
        "</supportedOn>" % supported +
        "<categories>%s</categories>" % "".join(category_xml) +
        "<policies>%s</policies>" % "".join(admx.policies) +
        "</policyDefinitions>") + "\n")
    for lang in TEXTS:
        strings = "".join("<string id=%s>%s</string>" % (quoteattr(sid), escape(text))
                          for sid, text in admx.strings[lang].items())
        presentations = "".join(admx.presentations[lang].values())
        write(os.path.join(HERE, lang, "Tolvane.adml"), HEADER + indent(
            '<policyDefinitionResources xmlns="%s" revision="1.0" schemaVersion="1.0">' % NAMESPACE +
            "<displayName>Tolvane</displayName><description>Tolvane</description>"
            "<resources><stringTable>%s</stringTable>" % strings +
            "<presentationTable>%s</presentationTable></resources>" % presentations +
            "</policyDefinitionResources>") + "\n")


if __name__ == "__main__":
    main()

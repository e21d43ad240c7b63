// templates.cpp - the skeletons of the pages (mustache) and their style.
//
// {{name}} is escaped for HTML by the template engine; {{{name}}} is put
// in as it is and only ever receives text this module made safe: the
// charts' SVG, a record's JSON with every "<" escaped, the style below.
#include "report/templates.h"

const char *const kPageStyle = R"CSS(
:root { --ink: #1f2933; --muted: #5f6b7a; --line: #dfe3e8; --card: #ffffff; --bg: #f2f4f7;
  --passed: #2e7d32; --failed: #c62828; --interrupted: #ef6c00; --fatal: #8e0000; --aborted: #ad1457;
  --skipped: #90a4ae; --notrun: #b0bec5; --partial: #5c6bc0; --notapplicable: #8d6e63; }
* { box-sizing: border-box; }
body { margin: 0; background: var(--bg); color: var(--ink);
  font: 15px/1.45 "Segoe UI", "DejaVu Sans", "Liberation Sans", Arial, sans-serif; }
main { max-width: 1100px; margin: 0 auto; padding: 20px 20px 48px; }
header.top { display: flex; flex-wrap: wrap; gap: 28px; align-items: flex-start; background: var(--card); border-radius: 10px;
  padding: 22px 26px; box-shadow: 0 1px 3px rgba(0,0,0,.08); }
.stamp { flex: none; font-weight: 800; font-size: 28px; line-height: 1.15; letter-spacing: .06em;
  padding: 10px 20px; border: 5px solid currentColor; border-radius: 10px; transform: rotate(-4deg);
  text-align: center; min-width: 220px; max-width: 260px; margin: 8px 6px; }
.o-passed { color: var(--passed); } .o-failed { color: var(--failed); } .o-interrupted { color: var(--interrupted); }
.o-fatal { color: var(--fatal); } .o-aborted { color: var(--aborted); } .o-other { color: var(--muted); }
header.top > div:last-child { flex: 1 1 300px; min-width: 0; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 0 0 10px; }
.verdict { font-family: "DejaVu Sans Mono", Consolas, monospace; font-size: 15px; margin: 2px 0 10px;
  overflow-wrap: break-word; }
.note { margin: -4px 0 10px; padding: 6px 10px; border-left: 4px solid var(--failed); background: #fff5f5; }
.coverage { margin: 0 0 10px; font-weight: 600; }
.coverage.c-incomplete { color: #3949ab; } .coverage.c-complete { color: var(--passed); }
ul.missing { margin: -4px 0 12px; padding-left: 18px; font-size: 13.5px; color: var(--muted); }
p.untested { margin: 0 0 4px; font-size: 13px; color: #3949ab; }
p.untested span + span::before { content: "; "; }
p.cause { margin: -2px 0 10px; }
.facts { display: grid; grid-template-columns: repeat(auto-fill, minmax(230px, 1fr)); gap: 4px 22px; margin: 0; }
.facts div { display: flex; flex-direction: column; }
.facts dt { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.facts dd { margin: 0; font-weight: 600; }
section { background: var(--card); border-radius: 10px; padding: 18px 22px; margin-top: 18px;
  box-shadow: 0 1px 3px rgba(0,0,0,.08); }
section p.hint { color: var(--muted); margin: -4px 0 12px; font-size: 13px; }
.pair { display: grid; grid-template-columns: 1fr; gap: 12px; }
table { border-collapse: collapse; width: 100%; font-size: 14px; }
th { text-align: left; color: var(--muted); font-weight: 600; font-size: 12px; text-transform: uppercase;
  letter-spacing: .03em; border-bottom: 2px solid var(--line); padding: 6px 8px; }
td { border-bottom: 1px solid var(--line); padding: 6px 8px; vertical-align: top; }
th.issues { width: 42%; }
td.when { white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.s-failed td { background: #fff5f5; } tr.s-interrupted td { background: #fff8f0; }
tr.s-skipped td, tr.s-notrun td { color: var(--muted); }
code, .key { font-family: "DejaVu Sans Mono", Consolas, monospace; font-size: 13px; }
.badge { display: inline-block; padding: 1px 8px; border-radius: 10px; color: #fff; font-size: 12px; font-weight: 600;
  white-space: nowrap; }
.b-passed { background: var(--passed); } .b-failed { background: var(--failed); }
.b-interrupted { background: #b34700; } .b-skipped { background: #546e7a; }
.b-notrun { background: var(--notrun); color: var(--ink); } .b-fatal { background: var(--fatal); }
.b-partial { background: #3949ab; } .b-notapplicable { background: #6d4c41; }
tr.s-partial td, tr.s-notapplicable td { color: var(--muted); }
.b-aborted { background: var(--aborted); } .b-other { background: var(--muted); }
ul.lines { margin: 0; padding: 0; list-style: none; font-family: "DejaVu Sans Mono", Consolas, monospace;
  font-size: 12.5px; color: #8e0000; }
ul.lines li { white-space: pre-wrap; overflow-wrap: break-word; }
ul.lines.print { display: none; }
.tablebox, .chartbox { overflow-x: auto; max-width: 100%; }
.chartbox svg.chart { min-width: 640px; }
table#steps { min-width: 720px; }
table.values { width: auto; margin-top: 10px; font-size: 13px; }
ul.findings { margin: 0; padding-left: 16px; font-size: 13px; }
details summary { cursor: pointer; color: var(--muted); font-size: 12.5px; }
svg.chart { max-width: 100%; height: auto; display: block; }
svg.chart .lbl { font-size: 13px; fill: var(--ink); }
svg.chart .val { font-size: 12px; fill: var(--ink); font-weight: 600; }
svg.chart .tick { font-size: 11px; fill: var(--muted); }
svg.chart .cpu { font-size: 17px; font-weight: 700; fill: var(--ink); }
svg.chart .part { font-size: 10.5px; font-weight: 600; fill: var(--ink); }
svg.chart .count { font-size: 11px; font-weight: 600; fill: var(--ink); }
.figures { display: grid; grid-template-columns: repeat(auto-fill, minmax(160px, 1fr)); gap: 12px; }
.figure { border: 1px solid var(--line); border-radius: 8px; padding: 10px 14px; }
.figure b { display: block; font-size: 26px; }
.figure span { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .03em; }
.legend { display: flex; flex-wrap: wrap; gap: 6px 16px; font-size: 12.5px; color: var(--muted); margin-top: 8px; }
.legend i { display: inline-block; width: 12px; height: 12px; border-radius: 2px; margin-right: 5px;
  vertical-align: -1px; }
footer { color: var(--muted); font-size: 12px; margin-top: 18px; text-align: center; }
@media (max-width: 560px) {
  main { padding: 10px 8px 32px; }
  header.top { padding: 14px 14px; gap: 12px; }
  section { padding: 14px 12px; }
  .stamp { font-size: 22px; min-width: 0; max-width: none; padding: 8px 14px; }
  h1 { font-size: 20px; }
  .facts { grid-template-columns: 1fr; }
}
/* On a narrow screen and on paper the steps are cards: a row is a block,
   its figures inline with their names, its lines the full width below. */
@media (max-width: 560px), print {
  table#steps { min-width: 0; }
  table#steps, table#steps tbody, table#steps tr { display: block; width: 100%; }
  table#steps thead { display: none; }
  table#steps tr { border-bottom: 2px solid var(--line); padding: 6px 0; }
  table#steps td { display: inline-block; border: 0; padding: 2px 6px; }
  table#steps td[data-label]::before { content: attr(data-label) " "; color: var(--muted); font-size: 12px; }
  table#steps td:last-child { display: block; }
  table#steps td:last-child:empty { display: none; }
}
@page { size: A4; margin: 14mm 12mm; }
@media print {
  body { background: #fff; font-size: 12px; }
  main { max-width: none; padding: 0; }
  section, header.top { box-shadow: none; border: 1px solid var(--line); }
  section { break-inside: auto; }
  section.chart { break-inside: avoid; }
  h2 { break-after: avoid; }
  tr, .figure, svg.chart { break-inside: avoid; }
  details.screen { display: none; }
  ul.lines.print { display: block; }
  .tablebox, .chartbox { overflow: visible; }
  .chartbox svg.chart, table#steps { min-width: 0; }
  ul.lines li, .verdict { overflow-wrap: break-word; word-break: normal; hyphens: none; }
  .stamp { transform: none; }
  a { color: inherit; text-decoration: none; }
}
)CSS";

// The head both pages open with: the page's title and its style sheet
// come from the page's data.
const std::string kPageHead = R"HTML(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{{pageTitle}}</title>
<style>{{{style}}}</style>
</head>
)HTML";

const std::string kRunPageTemplate = kPageHead + R"HTML(<body>
<main>
<header class="top">
  <div class="stamp o-{{outcomeClass}}" id="outcome" title="{{outcome}}">{{stamp}}</div>
  <div>
    <h1>{{heading}}</h1>
    <p class="verdict" id="verdict">{{verdict}}</p>
{{#verdictNote}}
    <p class="note" id="verdict-note">{{verdictNote}}</p>
{{/verdictNote}}
    <p class="coverage c-{{coverageClass}}" id="coverage">{{coverage}}</p>
{{#hasMissing}}
    <ul class="missing" id="not-tested">{{#missing}}<li>{{.}}</li>{{/missing}}</ul>
{{/hasMissing}}
    <dl class="facts">
{{#facts}}
      <div><dt>{{name}}</dt><dd>{{value}}</dd></div>
{{/facts}}
    </dl>
  </div>
</header>
{{#hasConfiguration}}
<section>
  <h2>Конфигурация модуля</h2>
  <dl class="facts" id="configuration">
{{#configuration}}
    <div><dt>{{name}}</dt><dd>{{value}}</dd></div>
{{/configuration}}
  </dl>
{{#runId}}
  <p class="hint runid">Прогон <code>{{runId}}</code></p>
{{/runId}}
</section>
{{/hasConfiguration}}
{{#hasRunLines}}
<section>
  <h2>Сообщения об ошибках вне шагов</h2>
  <ul class="lines">{{#runLines}}<li>{{.}}</li>{{/runLines}}</ul>
</section>
{{/hasRunLines}}
<section>
  <h2>Шаги</h2>
  <div class="tablebox">
  <table id="steps">
    <thead><tr><th>Ключ</th><th>Шаг</th><th>Процессор</th><th>Статус</th><th>Ошибок</th><th>Находок</th><th>Время</th><th class="issues">Ошибки и находки</th></tr></thead>
    <tbody>
{{#steps}}
      <tr class="s-{{statusClass}}"><td class="key">{{key}}</td><td>{{name}}</td><td>{{processor}}</td><td><span class="badge b-{{statusClass}}">{{status}}</span></td><td class="num" data-label="ошибок">{{errors}}</td><td class="num" data-label="находок">{{findingCount}}</td><td class="num" data-label="время">{{duration}}</td><td>{{#hasNotTested}}<p class="untested">Не проверено: {{#notTested}}<span>{{.}}</span>{{/notTested}}</p>{{/hasNotTested}}{{#hasFindings}}<ul class="findings">{{#findings}}<li>{{.}}</li>{{/findings}}</ul>{{/hasFindings}}{{#hasLines}}<ul class="lines">{{#lines}}<li>{{.}}</li>{{/lines}}</ul>{{/hasLines}}{{#hasMoreLines}}<details class="screen"><summary>ещё {{moreCount}}</summary><ul class="lines">{{#moreLines}}<li>{{.}}</li>{{/moreLines}}</ul></details><ul class="lines print">{{#moreLines}}<li>{{.}}</li>{{/moreLines}}</ul>{{/hasMoreLines}}</td></tr>
{{/steps}}
    </tbody>
  </table>
  </div>
</section>
{{#speeds}}
<section class="chart">
  <h2>Скорости обмена</h2>
  <p class="hint">Десять скоростей обмена с хостом и скорость потока DMA, как их напечатала программа; наведите указатель на полосу, чтобы увидеть подробности.</p>
  <div class="chartbox">{{{speeds}}}</div>
  <div class="tablebox"><table class="values" id="speeds"><thead><tr><th>Обмен</th><th>Скорость</th><th>Единица</th></tr></thead><tbody>
{{#speedRows}}
  <tr><td>{{name}}</td><td class="num">{{value}}</td><td>{{unit}}</td></tr>
{{/speedRows}}
  </tbody></table></div>
</section>
{{/speeds}}
{{#board}}
<section class="chart">
  <h2>Модуль и линки</h2>
  <p class="hint">Слева вверху — части хоста (порт, DPRAM, FIFO, прерывания, DMA), ниже — процессоры P1..P7, окрашенные по их собственным шагам (память, БПФ) и по ошибкам, отнесённым к ним; линии — пары линков. Красным окрашены только те пары и части, где записаны ошибки; серым, синим и коричневым — то, что не проверялось целиком.</p>
  <div class="chartbox">{{{board}}}</div>
  <div class="legend"><span><i style="background:#2e7d32"></i>пройден</span><span><i style="background:#c62828"></i>не пройден</span><span><i style="background:#ef6c00"></i>прерван</span><span><i style="background:#5c6bc0"></i>проверен частично</span><span><i style="background:#90a4ae"></i>пропущен</span><span><i style="background:#8d6e63"></i>неприменим</span><span><i style="background:#cfd8dc"></i>не начат</span><span><i style="background:#eceff1;border:1px dashed #b0bec5"></i>нет процессора</span></div>
</section>
{{/board}}
{{#memory}}
<section class="memory chart">
  <h2>Ошибки памяти: {{title}}</h2>
  <p class="cause"><b>Вероятная причина:</b> {{cause}}.</p>
  <p class="hint">Вверху — где в банках внутренней памяти и в микросхемах динамической памяти лежат ошибочные слова (каждая черта — адрес), внизу — какие биты данных отличаются (записано XOR прочитано), над столбиком — число слов.</p>
  <div class="pair"><div class="chartbox">{{{map}}}</div><div class="chartbox">{{{bits}}}</div></div>
</section>
{{/memory}}
{{#fft}}
<section class="chart">
  <h2>БПФ по процессорам</h2>
  <p class="hint">Такты процессора на одно преобразование, как их напечатала программа.</p>
  <div class="chartbox">{{{fft}}}</div>
  <div class="tablebox"><table class="values" id="fft"><thead><tr><th>Процессор</th><th>Такты</th><th>Единица</th><th>Статус</th></tr></thead><tbody>
{{#fftRows}}
  <tr><td>{{name}}</td><td class="num">{{value}}</td><td>{{unit}}</td><td>{{status}}</td></tr>
{{/fftRows}}
  </tbody></table></div>
</section>
{{/fft}}
<footer>Страница сделана из записи прогона {{program}}; запись целиком — в блоке &lt;script id="record"&gt; этого файла.</footer>
</main>
<script type="application/json" id="record">{{{record}}}</script>
</body>
</html>
)HTML";

const std::string kFleetPageTemplate = kPageHead + R"HTML(<body class="fleet">
<main>
<header class="top">
  <div>
    <h1>Сводка по модулям ZORVANTIK</h1>
    <p class="verdict">{{sources}}</p>
  </div>
</header>
<section>
  <h2>Итоги</h2>
  <div class="figures" id="figures">
    <div class="figure"><span>Прогонов</span><b>{{runs}}</b></div>
    <div class="figure"><span>Модулей</span><b>{{boards}}</b></div>
    <div class="figure"><span>С первого раза</span><b>{{firstPassYield}}</b></div>
    <div class="figure"><span>По последнему прогону</span><b>{{finalYield}}</b></div>
    <div class="figure"><span>Модуль не опознан</span><b>{{unidentified}}</b></div>
    <div class="figure"><span>Пропущено файлов</span><b>{{skipped}}</b></div>
    <div class="figure"><span>Повторных копий</span><b>{{duplicates}}</b></div>
{{#leftOut}}    <div class="figure"><span>Не со стенда</span><b>{{leftOut}}</b></div>
{{/leftOut}}
  </div>
  <p class="hint" style="margin-top:12px">«С первого раза» — доля модулей, чей первый по времени прогон прошёл; «по последнему прогону» — доля модулей, чей последний прогон прошёл. Копии одного прогона (по его идентификатору или, в старых записях, по содержимому файла) считаются один раз.{{#leftOut}} Прогоны на виртуальном модуле и воспроизведения записей не учтены.{{/leftOut}}</p>
  {{{outcomes}}}
</section>
{{#history}}
<section>
  <h2>Прогоны по дням</h2>
  {{{history}}}
  <div class="legend"><span><i style="background:#2e7d32"></i>прошли</span><span><i style="background:#c62828"></i>не прошли</span></div>
</section>
{{/history}}
<section>
  <h2>Где не проходят модули</h2>
  <p class="hint">Сколько модулей не прошли шаг в своём последнем прогоне, больше всего — сверху.</p>
  {{#pareto}}{{{pareto}}}{{/pareto}}{{^pareto}}<p>Ни один модуль не провалил ни одного шага в последнем прогоне.</p>{{/pareto}}
  <h2 class="next">С первого раза</h2>
  <p class="hint">Сколько модулей не прошли шаг в своём первом прогоне.</p>
  {{#paretoFirst}}{{{paretoFirst}}}{{/paretoFirst}}{{^paretoFirst}}<p>Ни один модуль не провалил ни одного шага в первом прогоне.</p>{{/paretoFirst}}
</section>
{{#map}}
<section>
  <h2>Шаги и процессоры</h2>
  <p class="hint">Во всех прогонах: не пройден / проверялся (пропущенные и неприменимые шаги не считаются).{{^mapFailed}} Отказов нет.{{/mapFailed}}</p>
  <div class="scroll"><table id="map" class="map">
    <thead><tr><th>Шаг</th>{{#mapHeads}}<th>{{.}}</th>{{/mapHeads}}</tr></thead>
    <tbody>
{{#mapRows}}      <tr><th scope="row" title="{{key}}">{{label}}</th>{{#cells}}<td class="{{cls}}" title="{{title}}">{{text}}</td>{{/cells}}</tr>
{{/mapRows}}
    </tbody>
  </table></div>
</section>
{{/map}}
{{#trend}}
<section>
  <h2>Скорости обмена по дням</h2>
  <p class="hint">Медиана скорости за день по всем прогонам этого дня; у каждой строки свой масштаб, справа — наибольшая и наименьшая медиана.</p>
  {{{trend}}}
</section>
{{/trend}}
{{#distributions}}
<section>
  <h2>{{title}}</h2>
  <p class="hint">Последний прогон каждого модуля: ящик — квартили, черта — медиана, усы — размах без выбросов. Красные точки — выбросы: дальше от медианы, чем 3,5 · 1,4826 · MAD (медиана абсолютных отклонений).</p>
  {{#folded}}<details><summary>{{folded}}</summary>{{/folded}}
  {{{chart}}}
  {{#folded}}</details>{{/folded}}
</section>
{{/distributions}}
{{#hasNever}}
<section>
  <h2>Ни разу не прошли</h2>
  <ul class="never" id="never">{{#never}}<li>{{#href}}<a href="{{href}}">{{serial}}</a>{{/href}}{{^href}}{{serial}}{{/href}} <span class="hint">прогонов: {{runs}}</span></li>{{/never}}</ul>
</section>
{{/hasNever}}
<section>
  <h2>Модули</h2>
  <p class="hint">Последний прогон каждого модуля; все его прогоны — под числом прогонов. «Неполный охват» — в прогоне не проверено всё, что выбрано.</p>
  <div class="scroll"><table id="boards">
    <thead><tr><th>Серийный номер</th><th>Прогонов</th><th>Последний итог</th><th>Ошибок</th><th>Находок</th><th>Не пройдены</th><th>Последний прогон</th></tr></thead>
    <tbody>
{{{rows}}}
    </tbody>
  </table></div>
</section>
{{#hasUnidentified}}
<section>
  <h2>Прогоны без опознанного модуля</h2>
  <ul class="runs">{{#unidentifiedRuns}}<li>{{#href}}<a href="{{href}}">{{start}}</a>{{/href}}{{^href}}{{start}}{{/href}} <span class="badge b-{{outcomeClass}}">{{outcome}}</span> <span class="file">{{file}}</span></li>{{/unidentifiedRuns}}</ul>
</section>
{{/hasUnidentified}}
{{#hasSkipped}}
<section>
  <h2>Пропущенные файлы</h2>
  <p class="hint">Эти файлы не прочитаны как записи прогонов; причина каждого — в сообщениях zorvantik-report.</p>
  <ul class="files" id="skipped">{{#skippedFiles}}<li>{{.}}</li>{{/skippedFiles}}</ul>
</section>
{{/hasSkipped}}
<footer>Сделано {{program}}; сводка — в блоке &lt;script id="summary"&gt; этого файла.</footer>
</main>
<script type="application/json" id="summary">{{{summary}}}</script>
</body>
</html>
)HTML";


// The fleet page's own rules, after the shared ones.
const char *const kFleetStyle = R"CSS(
body.fleet .scroll { overflow-x: auto; max-width: 100%; }
body.fleet .verdict, body.fleet ul.files li, body.fleet .file { overflow-wrap: anywhere; }
body.fleet h2.next { margin-top: 18px; }
body.fleet table.map { width: auto; min-width: 60%; }
body.fleet table.map th[scope=row] { text-transform: none; font-size: 13px; color: var(--ink); white-space: nowrap; }
body.fleet table.map td { text-align: center; font-variant-numeric: tabular-nums; white-space: nowrap; }
body.fleet td.m-none { color: var(--muted); } body.fleet td.m-0 { background: #eef7ee; }
body.fleet td.m-1 { background: #fde0dc; } body.fleet td.m-2 { background: #f4a59c; }
body.fleet td.m-3 { background: #c62828; color: #fff; font-weight: 600; }
body.fleet ul.runs, body.fleet ul.never, body.fleet ul.files { margin: 4px 0 0; padding-left: 18px; font-size: 13px; }
body.fleet td ul.runs li { white-space: nowrap; text-align: left; }
body.fleet .cover { display: inline-block; font-size: 12px; color: #8a4b00; border: 1px solid #e0a060; border-radius: 10px;
  padding: 0 6px; white-space: nowrap; }
body.fleet ul.files { font-family: "DejaVu Sans Mono", Consolas, monospace; }
@media (max-width: 600px) {
  body.fleet main { padding: 10px 8px 32px; }
  body.fleet section, body.fleet header.top { padding: 12px 12px; }
  body.fleet .figures { grid-template-columns: repeat(auto-fill, minmax(130px, 1fr)); }
  body.fleet .figure b { font-size: 22px; }
  /* Charts keep readable type and scroll inside their section instead. */
  body.fleet section { overflow-x: auto; }
  body.fleet svg.chart { min-width: 600px; }
}
)CSS";

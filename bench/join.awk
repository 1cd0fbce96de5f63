# join.awk: the benchmark store's questions answered by hand in awk, the way
# someone without the query tool would write them. Run in the store directory
# with LC_ALL=C; each mode prints byte for byte what the query beside it prints.
#
#   awk -v mode=join -v want=tornillo -f join.awk
#       query fac 'h00;' 'h02;' 'h06;' 'd00;' 'd01;' 'd04;' 'd01;tornillo'
#   awk -v mode=header -v want=norte -f join.awk
#       query fac 'h00;' 'h01;' 'h02;' 'h06;' 'h02;norte'
#   awk -v mode=key -v key=00001234 -f join.awk        (key: 8 characters)
#       query fac 'h00;00001234' 'h01;' 'h06;' 'd00;' 'd01;' 'd04;'
#
# `want` must be lower case. The layout is the one bench_store writes:
#   HEAD: number 8, client 7, date 8, amount 11, discount 3, a 6-character
#         pointer per detail line (negative: absent), line feed
#   DOC:  article 8 (blank: deleted line), quantity 5, price 9, trailer 6
#   clients.db: 72-byte records, code 7, name 30;  articles.db: 64-byte
#         records, code 8, description 36.
# Formulas: total = (amount - amount * discount / 100) * 1.21 and
# line total = quantity * price, printed with two decimals.

function blanks(n,   s) { s = ""; while (length(s) < n) s = s " "; return s }

# Fetched text cut or padded to `n`; text beginning with a digit loses its
# trailing blanks.
function derived(s, n) {
  s = substr(s, 1, n)
  if (length(s) < n) s = s blanks(n - length(s))
  if (s ~ /^[0-9]/) sub(/ +$/, "", s)
  return s
}

function load_tables(   r) {
  while ((getline r < "clients.db") > 0) client[substr(r, 1, 7)] = substr(r, 8, 30)
  close("clients.db")
  while ((getline r < "articles.db") > 0) article[substr(r, 1, 8)] = substr(r, 9, 36)
  close("articles.db")
}

# Reads DOC records up to number `last` into doc[]; DOC records end in a line feed.
function load_doc(last,   r) {
  while (ndoc <= last && (getline r < "DOC") > 0) doc[ndoc++] = r
}

# Splits HEAD record `h` into the header fields h00 h01 h02 h06.
function header(h,   ck, amount, discount) {
  h00 = substr(h, 1, 8)
  ck = substr(h, 9, 7)
  if (ck in client) {
    h01 = ck "|" client[ck]
    h02 = derived(client[ck], 24)
  } else {
    h01 = ck blank30
    h02 = blank24
  }
  amount = substr(h, 24, 11) + 0
  discount = substr(h, 35, 3) + 0
  h06 = sprintf("%.2f", (amount - amount * discount / 100) * 1.21)
}

# Splits DOC record `r` into d00 d01 d04; false for a deleted line.
function line(r,   ak) {
  if (substr(r, 1, 1) == " ") return 0
  ak = substr(r, 1, 8)
  d00 = ak
  d01 = (ak in article) ? derived(article[ak], 30) : blank30
  d04 = sprintf("%.2f", substr(r, 9, 5) * substr(r, 14, 9))
  return 1
}

# Prints the output of one HEAD record for the current mode.
function record(h,   l, p, present) {
  header(h)
  present = 0
  for (l = 0; l < lines; l++) {
    p = substr(h, 38 + 6 * l, 6) + 0
    if (p < 0 || p >= ndoc || !line(doc[p])) continue
    present++
    if (mode == "join") {
      if (index(tolower(d01), want)) print h00 ";" h02 ";" h06 ";" d00 ";" d01 ";" d04 ";" d01 ";"
    } else if (mode == "header") {
      if (index(tolower(h02), want)) print h00 ";" h01 ";" h02 ";" h06 ";" h02 ";"
    } else {
      print h00 ";" h01 ";" h06 ";" d00 ";" d01 ";" d04 ";"
    }
  }
  if (present > 0) return
  # No detail line: the search texts apply to the header field of the same number.
  if (mode == "header") {
    if (index(tolower(h02), want)) print h00 ";" h01 ";" h02 ";" h06 ";" h02 ";"
  } else if (mode == "key") {
    print h00 ";" h01 ";" h06 ";;;;"
  }
  # mode join: 'd01;tornillo' tests header field 1, a 7-character code: no match.
}

BEGIN {
  getline form < "fac"
  split(form, count, " ")
  lines = count[2] + 0
  blank24 = blanks(24); blank30 = blanks(30)
  load_tables()
  if (mode == "key") {
    # The record whose number is `key`, then only the DOC records it needs.
    while ((getline h < "HEAD") > 0) {
      if (substr(h, 1, 8) != key) continue
      last = -1
      for (l = 0; l < lines; l++) if ((p = substr(h, 38 + 6 * l, 6) + 0) > last) last = p
      load_doc(last)
      record(h)
      break
    }
    exit
  }
  load_doc(1e9)
  while ((getline h < "HEAD") > 0) record(h)
}

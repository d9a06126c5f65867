"""A local, read-only web page of the messages of HL7 v2 files
(`vellomar view`): `archive` indexes the files and reads messages on
demand, `detail` makes one message's view, `server` serves the page and its
JSON on loopback to whoever holds the token. The page itself (static/) is
plain HTML, CSS and JavaScript, with nothing loaded from elsewhere."""

"""kvilreport: what an installation did, from its Windows Installer log alone.

The log model (reading, events, log, findings, msistatus) reads the log of
any product; the product layer (product, product_data) adds what the report
knows of KVILMSI64.dll; text, json_report and fleet render the findings;
cli is the command. Importing this package imports none of them."""

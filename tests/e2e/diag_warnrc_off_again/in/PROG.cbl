       COPY NOPE.

       COPY HAVE.
